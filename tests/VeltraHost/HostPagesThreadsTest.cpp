// Several pages of one host at once, each with its viewer process: they are served side by side, a
// slow or crashing viewer touches only its own page, and pages that come and go leave nothing behind.
#include "app/HostApp.h"

#include "HostUnderTest.h"
#include "ProcessCensus.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

using namespace veltra::host;
using veltra::test::jsonArray;
using veltra::test::childrenRunning;
using veltra::test::PageClient;
using veltra::test::procEntries;
using veltra::test::quantile;
using veltra::test::residentMiB;
using Clock = std::chrono::steady_clock;

namespace {

class HostPagesThreads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!veltra::test::prepareHostTest(&why))
            GTEST_SKIP() << why;
        startHost(veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY));
    }

    /// The host, in its default mode (a process per page), with `plugin` and what `adjust` changes.
    void startHost(const std::string& plugin, const std::function<void(HostOptions&)>& adjust = {})
    {
        app.reset();
        HostOptions options = veltra::test::hostOptionsForTests(site.path(), plugin);
        if (adjust)
            adjust(options);
        app = std::make_unique<HostApp>(options);
        host = veltra::test::HostAddress::of(app->address());
    }

    /// A page with `elements` elements of 32 x 24, connected and created; the plug-in objects of
    /// its elements are in `objects`.
    std::unique_ptr<PageClient> openPage(int elements, std::vector<Json::Value>* objects = nullptr)
    {
        auto page = std::make_unique<PageClient>(host);
        EXPECT_TRUE(page->connect());
        for (int element = 1; element <= elements; ++element)
        {
            const Json::Value created = page->create(element, 32, 24);
            EXPECT_EQ(created["op"], "created") << created.toStyledString();
            if (objects)
                objects->push_back(created["object"]);
        }
        return page;
    }

    /// Waits until `done` holds, at most 10 s.
    static bool eventually(const std::function<bool()>& done)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!done() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return done();
    }

    veltra::test::TempDir site;
    std::unique_ptr<HostApp> app;
    veltra::test::HostAddress host;
};

} // namespace

TEST_F(HostPagesThreads, PagesCallingAtOnceAllProgressWhileTheirViewersCallThemBack)
{
    // Each page calls "log" over and over, and each log line comes back to it as a call of the
    // plug-in into the page, which its socket answers: the case where one busy page used to hold
    // every other one up.
    constexpr int kPages = 4;
    const auto runFor = std::chrono::seconds(2);
    std::vector<std::unique_ptr<PageClient>> pages;
    std::vector<Json::Value> objects;
    for (int i = 0; i < kPages; ++i)
        pages.push_back(openPage(1, &objects));

    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> latencies(kPages);
    std::vector<std::thread> callers, readers;
    for (int i = 0; i < kPages; ++i)
    {
        readers.emplace_back([&, i] { pages[i]->nextText([&](const Json::Value&) { return stop.load(); }); });
        callers.emplace_back([&, i] {
            const auto end = Clock::now() + runFor;
            try
            {
                for (int n = 0; Clock::now() < end; ++n)
                {
                    const auto start = Clock::now();
                    const Json::Value reply =
                        pages[i]->invoke(objects[i], "log", jsonArray({"line " + std::to_string(n)}));
                    latencies[i].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                    if (!reply["ok"].asBool())
                        break;
                }
            }
            catch (const std::exception& error)
            {
                ADD_FAILURE() << "page " << i + 1 << ": " << error.what();
            }
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    stop = true;
    for (auto& page : pages)
        page->interrupt();
    for (std::thread& reader : readers)
        reader.join();

    for (int i = 0; i < kPages; ++i)
    {
        std::cout << "page " << i + 1 << ": " << latencies[i].size() / 2.0 << " calls/s, p99 "
                  << quantile(latencies[i], 0.99) << " ms" << std::endl;
        EXPECT_GE(latencies[i].size(), 10u) << "page " << i + 1 << " starved";
        EXPECT_LT(quantile(latencies[i], 0.99), 1000.0) << "page " << i + 1;
        EXPECT_GE(pages[i]->page.loggedCount(), 10u) << "its lines reached page " << i + 1;
    }
}

TEST_F(HostPagesThreads, ASlowModelReadInOnePageDoesNotDelayAnothersViewer)
{
    // The real plug-in, reading a model through a reader that takes 3 s over it.
    startHost(veltra::test::builtLibrary("npveltra.so"));
    const std::string model = site.write("model.veltraslow", "3000");
    std::vector<Json::Value> loadingObjects, otherObjects;
    auto loading = openPage(1, &loadingObjects);
    auto other = openPage(1, &otherObjects);

    std::atomic<bool> loaded{false};
    std::thread reader([&] {
        const auto start = Clock::now();
        const Json::Value reply = loading->invoke(loadingObjects[0], "loadfile", jsonArray({model}));
        EXPECT_TRUE(reply["ok"].asBool()) << reply.toStyledString();
        EXPECT_GE(std::chrono::duration<double>(Clock::now() - start).count(), 2.9) << "the read was not slow";
        loaded = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the read is under way
    double slowest = 0.0;
    for (int i = 0; i < 20; ++i)
    {
        const auto start = Clock::now();
        const Json::Value reply = other->invoke(otherObjects[0], "echo", jsonArray({i}));
        slowest = std::max(slowest, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        EXPECT_EQ(reply["value"], i) << reply.toStyledString();
    }
    EXPECT_FALSE(loaded.load()) << "the other page's 20 calls ended before the read";
    EXPECT_LT(slowest, 1000.0);
    reader.join();
}

TEST_F(HostPagesThreads, AViewerThatCrashesTakesOnlyItsPageAndThePageCanReload)
{
    std::vector<Json::Value> doomedObjects, otherObjects;
    auto doomed = openPage(1, &doomedObjects);
    auto other = openPage(1, &otherObjects);
    ASSERT_TRUE(eventually([] { return childrenRunning("veltra-host").size() == 3; })) << "two pages and the spare";

    // The crashing call itself fails with the reason, and the page hears of the crash.
    const Json::Value failed = doomed->invoke(doomedObjects[0], "abort");
    EXPECT_FALSE(failed["ok"].asBool());
    EXPECT_EQ(failed["error"], "The plug-in instance is gone");
    const Json::Value crashed = doomed->nextText([](const Json::Value& m) { return m["op"] == "crashed"; });
    EXPECT_EQ(
        crashed["error"].asString().rfind("The plug-in instance is gone: its viewer process killed by signal 6", 0), 0u)
        << crashed.toStyledString();
    EXPECT_EQ(doomed->invoke(doomedObjects[0], "platform")["error"], "The plug-in instance is gone");
    const Json::Value refused = doomed->create(2, 32, 24);
    EXPECT_EQ(refused["op"], "createFailed") << "an element added after the crash hears why";
    EXPECT_EQ(refused["error"], "The plug-in instance is gone");

    // The other page goes on answering and drawing, and the crashed process is reaped.
    EXPECT_TRUE(other->invoke(otherObjects[0], "platform")["ok"].asBool());
    const Json::Value created = other->create(2, 40, 30);
    ASSERT_EQ(created["op"], "created");
    const unsigned instance = created["instance"].asUInt();
    EXPECT_EQ(other->nextText([&](const Json::Value& m) {
        return m["op"] == "picture" && m["instance"].asUInt() == instance;
    })["op"],
              "picture");
    EXPECT_TRUE(eventually([] { return childrenRunning("veltra-host").size() == 2; })) << "the other page and the spare";

    // Reloading the page gives it a viewer again.
    doomed->close();
    std::vector<Json::Value> reloadedObjects;
    auto reloaded = openPage(1, &reloadedObjects);
    EXPECT_TRUE(reloaded->invoke(reloadedObjects[0], "platform")["ok"].asBool());
}

TEST_F(HostPagesThreads, AHostWhosePlugInCannotStartInAPageProcessSaysSoAtOnce)
{
    const std::string notALibrary = site.write("npveltra.so", "not a library");
    try
    {
        startHost(notALibrary);
        FAIL() << "the host started";
    }
    catch (const std::exception& error)
    {
        EXPECT_STREQ(error.what(), "the plug-in does not start in a page process (it exited with status 1; see above)");
    }
}

TEST_F(HostPagesThreads, PageProcessesRunWithinTheirLimits)
{
    startHost(veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY), [](HostOptions& options) {
        options.pageOpenFiles = 200;
        options.pageMemoryBytes = std::size_t(3) << 30;
    });
    std::vector<Json::Value> objects;
    auto page = openPage(1, &objects);
    EXPECT_TRUE(page->invoke(objects[0], "platform")["ok"].asBool());

    // Soft and hard, as the kernel lists them ("Max open files  200  200  files"), in the page's
    // process and the spare (which sets them as soon as it starts).
    auto limit = [](int pid, const std::string& name) {
        std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
        for (std::string line; std::getline(limits, line);)
            if (line.rfind(name, 0) == 0)
            {
                std::istringstream values(line.substr(26));
                std::string soft, hard;
                values >> soft >> hard;
                return soft + " " + hard;
            }
        return std::string("(none)");
    };
    auto allLimited = [&](const std::string& name, const std::string& expected) {
        const std::vector<int> processes = childrenRunning("veltra-host");
        return processes.size() == 2 &&
               std::all_of(processes.begin(), processes.end(), [&](int pid) { return limit(pid, name) == expected; });
    };
    EXPECT_TRUE(eventually([&] { return allLimited("Max open files", "200 200"); }));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_TRUE(eventually([&] { return allLimited("Max data size", "3221225472 3221225472"); }));
#endif
}

TEST_F(HostPagesThreads, OpeningAndClosingPagesLeavesNothingBehind)
{
    ASSERT_TRUE(eventually([] { return childrenRunning("veltra-host").size() == 1; })) << "the spare";
    const std::size_t threads = procEntries("/proc/self/task").size();
    const std::size_t files = procEntries("/proc/self/fd").size();
    const auto started = Clock::now();
    constexpr int kCycles = 50;
    for (int cycle = 0; cycle < kCycles; ++cycle)
    {
        std::vector<Json::Value> objects;
        auto page = openPage(cycle % 2 ? 2 : 1, &objects);
        EXPECT_TRUE(page->invoke(objects.back(), "platform")["ok"].asBool()) << "cycle " << cycle;
        page->close();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_TRUE(eventually([&] { return app->instanceCount() == 0 && app->pageCount() == 0; }));
    EXPECT_TRUE(eventually([] { return childrenRunning("veltra-host").size() == 1; })) << "only the spare is left";
    // At most as many as before: the first count may have caught the spare's start half done.
    EXPECT_TRUE(eventually([&] { return procEntries("/proc/self/task").size() <= threads; }))
        << procEntries("/proc/self/task").size() << " threads, " << threads << " before";
    EXPECT_TRUE(eventually([&] { return procEntries("/proc/self/fd").size() <= files; }))
        << procEntries("/proc/self/fd").size() << " open files, " << files << " before";

    const std::vector<int> spare = childrenRunning("veltra-host");
    std::cout << kCycles << " pages opened and closed in " << seconds << " s; resident memory: host "
              << residentMiB(::getpid()) << " MiB, a waiting page process "
              << (spare.empty() ? 0.0 : residentMiB(spare.front())) << " MiB" << std::endl;
}
