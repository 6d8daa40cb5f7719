#include "RenderingThread.h"
#include "VirtualDisplay.h"

#include <Zir/osgMainApp.h>

#include <osg/Drawable>
#include <osg/Geode>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A drawable whose drawing holds until the test lets it go, so a test can act while a frame draws.
class HeldDrawing : public osg::Drawable
{
public:
    HeldDrawing() { setUseDisplayList(false); }
    HeldDrawing(const HeldDrawing& other, const osg::CopyOp& op) : osg::Drawable(other, op) {}
    META_Object(veltra_test, HeldDrawing)

    void drawImplementation(osg::RenderInfo&) const override
    {
        std::unique_lock<std::mutex> guard(_mutex);
        _drawing = true;
        _changed.notify_all();
        // Bounded, so that a fault shows as a failed expectation rather than a hung test.
        _changed.wait_for(guard, 5s, [this] { return _released; });
        _drawing = false;
    }

    bool waitUntilDrawing()
    {
        std::unique_lock<std::mutex> guard(_mutex);
        return _changed.wait_for(guard, 10s, [this] { return _drawing; });
    }
    bool drawing()
    {
        std::lock_guard<std::mutex> guard(_mutex);
        return _drawing;
    }
    void release()
    {
        std::lock_guard<std::mutex> guard(_mutex);
        _released = true;
        _changed.notify_all();
    }

private:
    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    mutable bool _drawing = false;
    bool _released = false;
};

// The viewer application drawing into a small real window, its frames counted as they reach the
// window, driven by the plug-in's frame loop.
class FrameOnDemandThreads : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifdef __SANITIZE_ADDRESS__
        // The GL driver keeps a little of each context's bookkeeping for the life of the process,
        // allocated where the leak checker cannot unwind.
        GTEST_SKIP() << "drawing into a window is not checked under AddressSanitizer";
#endif
        std::string why;
        if (!veltra::test::ensureDisplay(&why))
            GTEST_SKIP() << "no X display: " << why;
        ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
        // Software rasterising on the drawing thread alone: its worker threads synchronise in ways
        // the thread sanitizer cannot see.
        ::setenv("LP_NUM_THREADS", "0", 0);
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 64, 64, 0, 0, 0);
        XMapWindow(display, window);
        XSync(display, False);

        app = std::make_unique<osgMainApp>();
        app->initViewer(window, 64, 64);
        app->viewer->setFrameShownCallback([this] { ++shown; });
        loop = std::make_unique<RenderingThread>(app->viewer.get());
        loop->start();
    }

    void TearDown() override
    {
        loop.reset();
        app.reset();
        if (display)
        {
            XDestroyWindow(display, window);
            XCloseDisplay(display);
        }
    }

    // Waits until no frame has been shown for `quiet`; the count then, or -1 after `limit`.
    int settle(std::chrono::milliseconds quiet = 300ms, std::chrono::seconds limit = 10s)
    {
        const auto end = Clock::now() + limit;
        int last = shown;
        auto lastChange = Clock::now();
        while (Clock::now() < end)
        {
            std::this_thread::sleep_for(10ms);
            if (shown != last)
            {
                last = shown;
                lastChange = Clock::now();
            }
            else if (Clock::now() - lastChange >= quiet)
                return last;
        }
        return -1;
    }

    bool shownMoreThan(int count, std::chrono::seconds limit = 5s)
    {
        const auto end = Clock::now() + limit;
        while (shown <= count && Clock::now() < end)
            std::this_thread::sleep_for(2ms);
        return shown > count;
    }

    Display* display = nullptr;
    Window window = 0;
    std::unique_ptr<osgMainApp> app;
    std::unique_ptr<RenderingThread> loop;
    std::atomic<int> shown{0};
};

} // namespace

TEST_F(FrameOnDemandThreads, AStillViewDrawsNothingAndEveryReasonToDrawDraws)
{
    const int first = settle();
    ASSERT_GE(first, 1) << "the first frame is drawn, then the view is still";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(shown, first) << "a still view draws nothing";

    // A scene change from the page draws it, then the view is still again.
    app->home();
    EXPECT_TRUE(shownMoreThan(first));
    const int afterChange = settle();
    EXPECT_GT(afterChange, first);

    // A running animation keeps frames coming until it ends.
    std::atomic<bool> animating{true};
    {
        SceneLock::Guard guard = app->viewer->sceneLock().acquire();
        app->viewer->addAnimation([&animating] { return animating.load(); });
    }
    EXPECT_TRUE(shownMoreThan(afterChange + 5));
    animating = false;
    const int afterAnimation = settle();
    EXPECT_GT(afterAnimation, afterChange + 5);

    // So does input in the window.
    XEvent expose{};
    expose.type = Expose;
    expose.xexpose.window = window;
    expose.xexpose.width = 64;
    expose.xexpose.height = 64;
    XSendEvent(display, window, False, ExposureMask, &expose);
    XSync(display, False);
    EXPECT_TRUE(shownMoreThan(afterAnimation));
}

TEST_F(FrameOnDemandThreads, SceneCallsDoNotWaitForTheFrameBeingDrawn)
{
    osg::ref_ptr<HeldDrawing> held = new HeldDrawing;
    osg::ref_ptr<osg::Geode> part = new osg::Geode;
    part->addDrawable(held.get());
    {
        SceneLock::Guard guard = app->viewer->sceneLock().acquire();
        app->root->addChild(part.get());
    }
    ASSERT_TRUE(held->waitUntilDrawing());

    // Page calls go through while the frame draws; the part leaves the scene and is dropped in the
    // middle of its own drawing, which keeps what it draws alive.
    app->home();
    {
        SceneLock::Guard guard = app->viewer->sceneLock().acquire();
        app->root->removeChild(part.get());
    }
    part = nullptr;
    app->clearScene();
    EXPECT_TRUE(held->drawing()) << "the calls returned while the frame was still drawing";
    held->release();
    held = nullptr;
    EXPECT_GE(settle(), 1);
}
