#include "FakeHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using veltra::test::FakeHost;

namespace {

// Runs `work` on a new thread and hands back its outcome: the result, or the message of what it threw.
std::future<std::string> onWorker(std::function<std::string()> work)
{
    return std::async(std::launch::async, [work] {
        try
        {
            return work();
        }
        catch (const std::exception& error)
        {
            return std::string("error: ") + error.what();
        }
    });
}

// Runs the host's queue until `outcome` is ready; false when it is not within a few seconds.
bool serveUntilReady(FakeHost& host, std::future<std::string>& outcome)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (outcome.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        host.runPending();
    }
    return true;
}

} // namespace

TEST(BrowserHostThreads, CrossThreadCallsHandBackResultsAndErrors)
{
    auto host = std::make_shared<FakeHost>();
    EXPECT_EQ(host->callOnMainThread([] { return 7; }), 7) << "on the browser thread the call runs at once";

    std::thread::id ranOn;
    auto result = onWorker([&] {
        return host->callOnMainThread([&] {
            ranOn = std::this_thread::get_id();
            return std::string("answer");
        });
    });
    ASSERT_TRUE(serveUntilReady(*host, result));
    EXPECT_EQ(result.get(), "answer");
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    auto failure = onWorker([&] {
        host->callOnMainThread([] { throw FB::script_error("page said no"); });
        return std::string("no error");
    });
    ASSERT_TRUE(serveUntilReady(*host, failure));
    EXPECT_EQ(failure.get(), "error: page said no");

    host->refuse = true;
    auto refused = onWorker([&] { return host->callOnMainThread([] { return std::string("ran"); }); });
    EXPECT_EQ(refused.get(), "error: Could not marshal to main thread");
}

TEST(BrowserHostThreads, ShutdownEndsWaitingCallsAndDropsQueuedOnes)
{
    auto host = std::make_shared<FakeHost>();
    std::atomic<bool> ran{false};
    auto waiting = onWorker([&] {
        host->callOnMainThread([&] { ran = true; });
        return std::string("returned");
    });
    while (host->pendingCount() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool logged = false;
    host->scheduleOnMainThread([&] { logged = true; });

    host->shutdown();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the waiting caller hangs";
    EXPECT_EQ(waiting.get(), "error: Shutting down");
    EXPECT_EQ(host->runPending(), 2u);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(logged);

    EXPECT_FALSE(host->scheduleOnMainThread([] {}));
    auto late = onWorker([&] { return host->callOnMainThread([] { return std::string("ran"); }); });
    EXPECT_EQ(late.get(), "error: Shutting down");
}

TEST(BrowserHostThreads, PageLoggingFromAnyThreadIsQueuedAndWrittenInOneBatch)
{
    auto host = std::make_shared<FakeHost>();
    host->logToPage("main");
    std::thread([&] {
        host->logToPage("worker");
        host->warnToPage("careful");
    }).join();
    EXPECT_TRUE(host->console.empty()) << "not even the browser thread's own line is written during its call";
    EXPECT_EQ(host->runPending(), 1u) << "one flush for every line";
    EXPECT_EQ(host->console, (std::vector<std::string>{"main", "worker", "careful"}));
    EXPECT_EQ(host->warnings, std::vector<std::string>{"careful"});
    EXPECT_EQ(host->consoleWrites, 1u);

    host->logToPage("next");
    EXPECT_EQ(host->runPending(), 1u) << "a line after a flush schedules the next one";
    EXPECT_EQ(host->console.back(), "next");

    // A browser that refuses to schedule: a worker's line waits, the browser thread's own line takes it along.
    host->refuse = true;
    std::thread([&] { host->logToPage("kept"); }).join();
    EXPECT_EQ(host->console.back(), "next");
    host->logToPage("now");
    EXPECT_EQ(host->console, (std::vector<std::string>{"main", "worker", "careful", "next", "kept", "now"}));
    EXPECT_EQ(host->consoleWritesOffMainThread, 0u);
}

TEST(BrowserHostThreads, ConcurrentLoggingKeepsEveryThreadsOrderAndShutdownWritesWhatIsQueued)
{
    auto host = std::make_shared<FakeHost>();
    const int workerCount = 4;
    const int linesEach = 2000;
    std::atomic<bool> go{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < workerCount; ++w)
    {
        workers.emplace_back([&, w] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < linesEach; ++i)
            {
                std::string line = "w" + std::to_string(w) + ":" + std::to_string(i);
                if (i % 3 == 0)
                    host->warnToPage(line);
                else
                    host->logToPage(line);
            }
            ++finished;
        });
    }
    go = true;
    int mainLines = 0;
    while (finished < workerCount)
    {
        host->logToPage("m:" + std::to_string(mainLines++));
        host->runPending();
    }
    for (std::thread& worker : workers)
        worker.join();

    // A worker still logging while the host shuts down: what it queued before is written, the rest dropped.
    std::atomic<bool> lateStarted{false};
    std::thread late([&] {
        for (int i = 0; i < 5000; ++i)
        {
            host->logToPage("late:" + std::to_string(i));
            lateStarted = true;
        }
    });
    while (!lateStarted)
        std::this_thread::yield();
    host->shutdown();
    late.join();
    host->runPending(); // flushes scheduled before shutdown find nothing to do
    host->logToPage("last words");
    EXPECT_EQ(host->runPending(), 0u) << "nothing is scheduled after shutdown";
    EXPECT_EQ(host->consoleWritesOffMainThread, 0u);

    // Every thread's lines arrive complete and in its own order; the late ones as an unbroken beginning.
    std::map<std::string, int> next;
    std::size_t warned = 0;
    for (const std::string& line : host->console)
    {
        if (line == "last words")
            continue;
        std::size_t colon = line.find(':');
        ASSERT_NE(colon, std::string::npos) << line;
        std::string thread = line.substr(0, colon);
        EXPECT_EQ(std::stoi(line.substr(colon + 1)), next[thread]++) << line;
    }
    for (int w = 0; w < workerCount; ++w)
        EXPECT_EQ(next["w" + std::to_string(w)], linesEach);
    EXPECT_EQ(next["m"], mainLines);
    EXPECT_GE(next["late"], 1);
    for (const std::string& line : host->warnings)
        warned += line[0] == 'w' && std::stoi(line.substr(line.find(':') + 1)) % 3 == 0;
    EXPECT_EQ(warned, host->warnings.size());
    EXPECT_EQ(host->warnings.size(), static_cast<std::size_t>(workerCount * ((linesEach + 2) / 3)));
    EXPECT_EQ(host->console.back(), "last words") << "the browser thread's last words are written at once";
}
