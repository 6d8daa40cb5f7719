#include "OffscreenRender.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "VirtualDisplay.h"

#include <Zir/osgMainApp.h>

#include <SolvoEarthKits/response/CallBack.h>

#include <osg/Geode>
#include <osg/ShapeDrawable>
#include <osgDB/FileCache>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include "XButtonEvent.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

using namespace veltra::test;

namespace {

constexpr int kSize = 160;
const osg::Vec4ub kBoxColour(230, 40, 30, 255);

// A flat-coloured unit box whose drawable and geode carry `name`.
std::string writeBox(const TempDir& dir, const std::string& file, const std::string& name)
{
    osg::ref_ptr<osg::ShapeDrawable> box = new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f));
    box->setColor(osg::Vec4(kBoxColour.r() / 255.0f, kBoxColour.g() / 255.0f, kBoxColour.b() / 255.0f, 1.0f));
    box->setName(name);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName(name);
    geode->addDrawable(box.get());
    geode->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    const std::string path = dir.file(file);
    EXPECT_TRUE(osgDB::writeNodeFile(*geode, path));
    return path;
}

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The page's side: an X window of its own, on its own connection, handed to the application,
// and a thread that runs frames back to back as the plug-in does.
class osgMainAppRender : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!ensureDisplay(&why))
            GTEST_SKIP() << why;
        ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
        // Software rasterising on the drawing thread alone: its worker threads synchronise in ways
        // the thread sanitizer cannot see.
        ::setenv("LP_NUM_THREADS", "0", 0);
        _display = XOpenDisplay(nullptr);
        if (!_display)
            GTEST_SKIP() << "cannot open the test display";
        _window = XCreateSimpleWindow(_display, DefaultRootWindow(_display), 0, 0, kSize, kSize, 0, 0, 0);
        XMapWindow(_display, _window);
        XSync(_display, False);

        app = std::make_unique<osgMainApp>();
        app->initViewer(_window, kSize, kSize);
        if (!app->viewer->isRealized())
            GTEST_SKIP() << "no OpenGL on the test display";
        app->viewer->getCamera()->setClearColor(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
        app->viewer->getCamera()->setFinalDrawCallback(new Capture(*this));
    }

    void TearDown() override
    {
        stopFrames();
        app.reset();
        if (_display)
        {
            XDestroyWindow(_display, _window);
            XCloseDisplay(_display);
        }
    }

    void startFrames()
    {
        _frames = std::thread([this] {
            while (!_stop)
                app->viewer->frame();
        });
    }

    void stopFrames()
    {
        _stop = true;
        if (_frames.joinable())
            _frames.join();
    }

    // The centre pixel of a frame drawn after this call.
    osg::Vec4ub centreAfterNextFrames()
    {
        const int seen = _captured;
        if (!waitFor([&] { return _captured >= seen + 2; }))
            return {};
        std::lock_guard<std::mutex> lock(_imageMutex);
        return pixelAt(*_image, kSize / 2, kSize / 2);
    }

    void sendClick(int x, int y)
    {
        for (const int type : {ButtonPress, ButtonRelease})
        {
            XEvent event = veltra::test::buttonEvent(_display, _window, type, Button1, x, y);
            XSendEvent(_display, _window, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
        }
        XFlush(_display);
    }

    std::unique_ptr<osgMainApp> app;

private:
    struct Capture : osg::Camera::DrawCallback
    {
        explicit Capture(osgMainAppRender& test) : _test(test) {}
        void operator()(osg::RenderInfo&) const override
        {
            std::lock_guard<std::mutex> lock(_test._imageMutex);
            _test._image->readPixels(0, 0, kSize, kSize, GL_RGBA, GL_UNSIGNED_BYTE);
            ++_test._captured;
        }
        osgMainAppRender& _test;
    };

    Display* _display = nullptr;
    Window _window = 0;
    std::thread _frames;
    std::atomic<bool> _stop{false};
    std::mutex _imageMutex;
    osg::ref_ptr<osg::Image> _image = new osg::Image;
    std::atomic<int> _captured{0};
};

class IdRecorder : public CallBack
{
public:
    using CallBack::response;
    bool response(int value) override
    {
        last = value;
        return true;
    }
    std::atomic<int> last{-1};
};

} // namespace

TEST_F(osgMainAppRender, LoadedModelIsDrawnAndClearSceneRemovesIt)
{
    TempDir dir;
    std::string path = writeBox(dir, "box.osgt", "box");
    ASSERT_EQ(app->loadfile(path), "");
    ASSERT_EQ(app->root->getNumChildren(), 1u);
    auto* sceneRoot = dynamic_cast<osg::Group*>(app->root->getChild(0));
    ASSERT_TRUE(sceneRoot);
    EXPECT_EQ(sceneRoot->getName(), "Scene Root");
    std::string fileName;
    EXPECT_TRUE(sceneRoot->getUserValue("fileName", fileName));
    EXPECT_EQ(fileName, path);

    startFrames();
    const osg::Vec4ub centre = centreAfterNextFrames();
    EXPECT_TRUE(colourNear(centre, kBoxColour, 24)) << describe(centre);

    app->clearScene();
    EXPECT_EQ(app->root->getNumChildren(), 0u);
    const osg::Vec4ub cleared = centreAfterNextFrames();
    EXPECT_TRUE(colourNear(cleared, osg::Vec4ub(0, 0, 0, 255))) << describe(cleared);
}

TEST_F(osgMainAppRender, ClickOnAPartReportsItsIdToListenersAddedBeforeAndAfter)
{
    TempDir dir;
    std::string path = writeBox(dir, "beam.osgt", "Beam[4711]");
    ASSERT_EQ(app->loadfile(path), "");
    osg::ref_ptr<IdRecorder> early = new IdRecorder;
    osg::ref_ptr<IdRecorder> late = new IdRecorder;
    app->addCallBack(early.get());
    app->QueryModelID(true);
    app->addCallBack(late.get());
    app->addCallBack(late.get()); // counted once

    startFrames();
    centreAfterNextFrames(); // the camera is in place
    sendClick(kSize / 2, kSize / 2);
    EXPECT_TRUE(waitFor([&] { return early->last == 4711 && late->last == 4711; }))
        << "early " << early->last << ", late " << late->last;

    // Off: clicks report nothing more.
    app->QueryModelID(false);
    early->last = -1;
    sendClick(kSize / 2, kSize / 2);
    centreAfterNextFrames();
    centreAfterNextFrames();
    EXPECT_EQ(early->last, -1);
    app->removeCallBack(early.get());
    app->removeCallBack(late.get());
}

TEST(osgMainAppLoad, MissingFileGivesAReasonAndAddsNothing)
{
    osgMainApp app;
    std::string path = "/nonexistent/veltra/model.osgt";
    const std::string why = app.loadfile(path);
    EXPECT_NE(why, "");
    EXPECT_NE(why.find(path), std::string::npos) << why;
    EXPECT_EQ(app.root->getNumChildren(), 0u);
}

// A reader that, while it reads, asks another thread to take the scene lock: a model read under
// the lock would keep that thread waiting until the call returns.
class LockProbeReader : public osgDB::ReaderWriter
{
public:
    explicit LockProbeReader(SceneLock& lock) : _lock(lock) { supportsExtension("veltralockprobe", "probe"); }

    ReadResult readNode(const std::string& file, const Options*) const override
    {
        return acceptsExtension(osgDB::getLowerCaseFileExtension(file)) ? probe() : ReadResult::FILE_NOT_HANDLED;
    }
    ReadResult readNode(std::istream&, const Options*) const override { return probe(); }

    /// Reads during which the lock was free; waits for the last probe, which the caller's lock may hold.
    int freeDuringRead()
    {
        if (_other.joinable())
            _other.join();
        return _free;
    }

private:
    ReadResult probe() const
    {
        if (_other.joinable())
            _other.join();
        _taken = false;
        _other = std::thread([this] {
            SceneLock::Guard guard = _lock.acquire();
            _taken = true;
        });
        if (waitFor([this] { return _taken.load(); }, std::chrono::seconds(2)))
            ++_free;
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName("Probe:1");
        return part.release();
    }

    SceneLock& _lock;
    mutable std::thread _other;
    mutable std::atomic<bool> _taken{false};
    mutable int _free = 0;
};

TEST(osgMainAppLoad, ModelsAreReadOutsideTheSceneLock)
{
    TempDir dir;
    const std::string model = dir.write("part.veltralockprobe", "probe");
    const std::string tasks = R"([{"wbs": "1", "startP": "2024-01-01", "finishP": "2024-01-02"}])";
    const std::string binding = R"({"1": [1]})";
    osgMainApp app;
    osg::ref_ptr<LockProbeReader> reader = new LockProbeReader(app.viewer->sceneLock());
    osgDB::Registry::instance()->addReaderWriter(reader.get());

    // A schedule on a model the page did not load first reads the model itself.
    EXPECT_TRUE(app.loadProgressControl(model, tasks, binding));
    std::string path = model;
    app.clearScene();
    EXPECT_EQ(app.loadfile(path), "");
    osgDB::Registry::instance()->removeReaderWriter(reader.get());
    EXPECT_EQ(reader->freeDuringRead(), 2);
}

TEST(osgMainAppCache, UnwritableFolderFallsBackToTheUserCache)
{
    TempDir plugin;
    TempDir userCache;
    veltra::test::ScopedEnv cacheHome("XDG_CACHE_HOME", userCache.path().string());
    // A plain file where the folder should be: no folder can be made below it, even as root.
    const std::string blocked = plugin.write("not-a-folder", "x") + "/";

    osgMainApp app;
    app.setCachePath(blocked);
    osgDB::FileCache* cache = osgDB::Registry::instance()->getFileCache();
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->getFileCachePath(), (userCache.path() / "veltra").string());

    app.setCachePath(plugin.path().string() + "/");
    cache = osgDB::Registry::instance()->getFileCache();
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->getFileCachePath(), plugin.file("veltra-cache"));
    EXPECT_TRUE(std::filesystem::is_directory(plugin.file("veltra-cache")));

    osgDB::Registry::instance()->setFileCache(nullptr);
}
