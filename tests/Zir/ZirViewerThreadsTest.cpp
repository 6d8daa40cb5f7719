#include "TempDir.h"
#include "VirtualDisplay.h"

#include <Zir/ZirViewer.h>
#include <Zir/osgMainApp.h>

#include <osg/Geode>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

using namespace veltra::test;
using Clock = std::chrono::steady_clock;

namespace {

std::string writePart(const TempDir& dir, int index)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName("part" + std::to_string(index));
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(index, 0.0f, 0.0f), 0.5f)));
    const std::string path = dir.file("part" + std::to_string(index) + ".osgt");
    EXPECT_TRUE(osgDB::writeNodeFile(*geode, path));
    return path;
}

} // namespace

TEST(ZirViewerThreads, CallerGetsTheLockBetweenBackToBackFrames)
{
    SceneLock lock;
    std::atomic<bool> stop{false};
    std::thread frames([&] {
        while (!stop)
        {
            SceneLock::Guard guard = lock.acquireForFrame();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto start = Clock::now();
    for (int i = 0; i < 50; ++i)
    {
        SceneLock::Guard guard = lock.acquire();
        SceneLock::Guard nested = lock.acquire(); // recursive
    }
    // About one frame per call at worst; a loop that re-took the lock at once could starve us.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    stop = true;
    frames.join();
}

TEST(ZirViewerThreads, ACallersOutermostHoldAsksForOneFrame)
{
    SceneLock lock;
    EXPECT_TRUE(lock.waitForRequest(std::chrono::milliseconds(0))) << "the first frame is always asked for";
    EXPECT_FALSE(lock.waitForRequest(std::chrono::milliseconds(0)));

    {
        SceneLock::Guard outer = lock.acquire();
        {
            SceneLock::Guard inner = lock.acquire();
        }
        EXPECT_FALSE(lock.waitForRequest(std::chrono::milliseconds(0))) << "not while the call still changes the scene";
        SceneLock::Guard moved = std::move(outer);
        EXPECT_FALSE(outer.ownsLock());
    }
    EXPECT_TRUE(lock.waitForRequest(std::chrono::milliseconds(0)));
    EXPECT_FALSE(lock.waitForRequest(std::chrono::milliseconds(0))) << "one frame for the whole call";

    { SceneLock::Guard frame = lock.acquireForFrame(); }
    EXPECT_FALSE(lock.waitForRequest(std::chrono::milliseconds(0))) << "the frame loop's own hold asks for nothing";

    // A request from another thread wakes a waiting frame loop.
    std::thread asker([&lock] { lock.requestFrame(); });
    EXPECT_TRUE(lock.waitForRequest(std::chrono::seconds(10)));
    asker.join();
}

TEST(ZirViewerThreads, ChangesThatNeedNoAnswerNeverWaitForAFrameAndKeepTheirOrder)
{
    SceneLock lock;
    std::vector<int> made; // touched under the lock only
    lock.changeSoon([&made] { made.push_back(1); });
    EXPECT_EQ(made, std::vector<int>{1}) << "made at once while no frame holds the lock";

    // A frame's traversals hold the lock: the changes wait in the queue and the caller goes on.
    std::promise<void> holding;
    std::promise<void> letGo;
    std::thread frame([&] {
        SceneLock::Guard guard = lock.acquireForFrame();
        holding.set_value();
        letGo.get_future().wait();
    });
    holding.get_future().wait();
    lock.changeSoon([&made] { made.push_back(2); });
    lock.changeSoon([&made] { made.push_back(3); });
    letGo.set_value();
    // A caller's hold makes the queued changes first, so what it reads or changes comes after them.
    {
        SceneLock::Guard guard = lock.acquire();
        made.push_back(4);
    }
    frame.join();
    EXPECT_EQ(made, (std::vector<int>{1, 2, 3, 4}));
}

TEST(ZirViewerThreads, SceneCallsWhileFramesRun)
{
    TempDir dir;
    std::string paths[3] = {writePart(dir, 0), writePart(dir, 1), writePart(dir, 2)};

    // A real window where a display is to be had, so the frames draw what the calls change. Not under
    // AddressSanitizer: the GL driver keeps a little of each context's bookkeeping for the life of the
    // process, allocated where the leak checker cannot unwind; the lock under test is the same without.
    Display* display = nullptr;
    Window window = 0;
#ifdef __SANITIZE_ADDRESS__
    const bool drawInAWindow = false;
#else
    const bool drawInAWindow = true;
#endif
    if (drawInAWindow && ensureDisplay())
    {
        ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
        // Software rasterising on the drawing thread alone: its worker threads synchronise in ways
        // the thread sanitizer cannot see.
        ::setenv("LP_NUM_THREADS", "0", 0);
        display = XOpenDisplay(nullptr);
    }
    {
        osgMainApp app;
        if (display)
        {
            window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 64, 64, 0, 0, 0);
            XMapWindow(display, window);
            XSync(display, False);
            app.initViewer(window, 64, 64);
        }
        app.viewer->setRunMaxFrameRate(0.0); // back to back, the hardest case for the callers

        std::atomic<bool> stop{false};
        std::atomic<int> frameCount{0};
        std::thread frames([&] {
            while (!stop)
            {
                app.viewer->frame();
                ++frameCount;
            }
        });

        int rounds = 0;
        const auto end = Clock::now() + std::chrono::milliseconds(1500);
        while (Clock::now() < end)
        {
            for (std::string& path : paths)
                EXPECT_EQ(app.loadfile(path), "");
            app.MarkNodeHighLight("part1, part2");
            app.switchModelSelector(rounds % 2 == 0);
            app.QueryModelID(rounds % 2 == 1);
            app.selectManiupltor(rounds % 3 == 0 ? "walk" : "trackball");
            app.home();
            EXPECT_EQ(app.root->getNumChildren(), 3u);
            app.clearScene();
            ++rounds;
        }
        stop = true;
        frames.join();
        EXPECT_GT(rounds, 10);
        EXPECT_GT(frameCount, 10);
    }
    if (display)
    {
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }
}
