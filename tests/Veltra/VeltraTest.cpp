#include "FakeHost.h"
#include "PostIDCallback.h"
#include "RenderingThread.h"
#include "Veltra.h"
#include "VeltraNotifyHandler.h"
#include "plugincore/PluginEvents.h"

#include <gtest/gtest.h>

#include <osgViewer/Viewer>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

using veltra::test::FakeHost;

namespace {

// A viewer whose frames only count and take as long as the test says; no window needed.
class CountingViewer : public osgViewer::Viewer
{
public:
    void frame(double = USE_REFERENCE_TIME) override
    {
        inFrame = true;
        std::this_thread::sleep_for(frameTime);
        if (++frames == doneAfter)
            setDone(true); // as the viewer's own event handling does on Escape
        inFrame = false;
    }

    std::atomic<int> frames{0};
    std::atomic<bool> inFrame{false};
    std::chrono::milliseconds frameTime{1};
    int doneAfter = 0;
};

std::shared_ptr<Veltra> makePlugin(const std::shared_ptr<FakeHost>& host)
{
    auto plugin = std::make_shared<Veltra>();
    plugin->setHost(host);
    return plugin;
}

} // namespace

TEST(FrameLoopThreads, WithoutViewerEndsAtOnce)
{
    RenderingThread thread(nullptr);
    thread.start();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (thread.isRunning() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(thread.isRunning());
}

TEST(FrameLoopThreads, StoppingWaitsForTheFrameInProgress)
{
    osg::ref_ptr<CountingViewer> viewer = new CountingViewer;
    viewer->frameTime = std::chrono::milliseconds(200);
    auto thread = std::make_unique<RenderingThread>(viewer.get());
    thread->start();
    while (!viewer->inFrame)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    auto started = std::chrono::steady_clock::now();
    thread.reset();
    EXPECT_FALSE(viewer->inFrame) << "the frame was cut short";
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
    EXPECT_TRUE(viewer->done());
    int frames = viewer->frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(viewer->frames, frames) << "no frame after the thread was stopped";
}

TEST(FrameLoopThreads, LoopEndsWhenTheViewerIsDone)
{
    osg::ref_ptr<CountingViewer> viewer = new CountingViewer;
    viewer->doneAfter = 3;
    auto thread = std::make_unique<RenderingThread>(viewer.get());
    thread->start();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((viewer->frames < 3 || thread->isRunning()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(thread->isRunning());
    EXPECT_EQ(viewer->frames, 3);
    thread.reset(); // a later detach completes at once
}

TEST(VeltraPlugin, PendingScriptRunsOnceAtTheNextMouseUpOrScroll)
{
    auto host = std::make_shared<FakeHost>();
    auto plugin = makePlugin(host);
    osg::ref_ptr<PostIDCallback> reports = new PostIDCallback(plugin.get());

    plugin->handleEvent(FB::MouseUpEvent(FB::MouseButtonEvent::Left, 1, 1), nullptr);
    EXPECT_TRUE(host->scripts.empty()) << "nothing waits yet";

    EXPECT_TRUE(reports->response(41));
    EXPECT_TRUE(reports->response(42));
    plugin->handleEvent(FB::MouseDownEvent(FB::MouseButtonEvent::Left, 1, 1), nullptr);
    plugin->handleEvent(FB::MouseMoveEvent(2, 2), nullptr);
    EXPECT_TRUE(host->scripts.empty()) << "only mouse-up and scroll run the script";
    plugin->handleEvent(FB::MouseUpEvent(FB::MouseButtonEvent::Left, 1, 1), nullptr);
    plugin->handleEvent(FB::MouseUpEvent(FB::MouseButtonEvent::Left, 1, 1), nullptr);
    EXPECT_EQ(host->scripts, std::vector<std::string>{"getAttr('42')"});

    reports->response(7);
    plugin->handleEvent(FB::MouseScrollEvent(1, 1, 0, 1), nullptr);
    EXPECT_EQ(host->scripts.back(), "getAttr('7')");
    EXPECT_EQ(plugin->pendingScript(), "");
}

TEST(VeltraPlugin, PluginFolderAndLastWordsToThePage)
{
    auto host = std::make_shared<FakeHost>();
    {
        auto plugin = makePlugin(host);
        const std::string& folder = plugin->pluginFolder();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder.front(), '/');
        EXPECT_EQ(folder.back(), '/');
        EXPECT_NE(plugin->getApp(), nullptr) << "the application exists before any window";
        plugin->destroy();
    }
    // Stored and written as GBK bytes: "窗口关闭shutdown...." then "执行析构Veltra....".
    ASSERT_EQ(host->console.size(), 2u);
    EXPECT_EQ(host->console[0], "\xb4\xb0\xbf\xda\xb9\xd8\xb1\xd5shutdown....");
    EXPECT_EQ(host->console[1], "\xd6\xb4\xd0\xd0\xce\xf6\xb9\xb9Veltra....");
}

TEST(VeltraPlugin, NoticeAndInfoReachThePageAndTheLastHandlerWins)
{
    auto first = std::make_shared<FakeHost>();
    auto second = std::make_shared<FakeHost>();
    osg::ref_ptr<osg::NotifyHandler> original = osg::getNotifyHandler();
    osg::ref_ptr<VeltraNotifyHandler> firstHandler = new VeltraNotifyHandler(first);
    osg::ref_ptr<VeltraNotifyHandler> secondHandler = new VeltraNotifyHandler(second);

    VeltraNotifyHandler::install(firstHandler.get());
    VeltraNotifyHandler::install(secondHandler.get());
    osg::NotifySeverity level = osg::getNotifyLevel();
    osg::setNotifyLevel(osg::INFO);
    for (auto severity : {osg::ALWAYS, osg::FATAL, osg::WARN, osg::NOTICE, osg::INFO})
        osg::getNotifyHandler()->notify(severity, severity == osg::NOTICE ? "notice" : "other");
    first->runPending();
    second->runPending();
    EXPECT_EQ(second->console, (std::vector<std::string>{"notice", "other"})) << "NOTICE and INFO only";
    EXPECT_TRUE(first->console.empty());

    // The element attached last goes away: the one before it takes over, then the original.
    VeltraNotifyHandler::remove(secondHandler.get());
    EXPECT_EQ(osg::getNotifyHandler(), firstHandler.get());
    VeltraNotifyHandler::remove(firstHandler.get());
    EXPECT_EQ(osg::getNotifyHandler(), original.get());
    osg::setNotifyLevel(level);
}
