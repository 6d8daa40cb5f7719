#include "FakeHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

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

TEST(BrowserHostThreads, PageLoggingFromWorkersIsQueuedNotAwaited)
{
    auto host = std::make_shared<FakeHost>();
    host->logToPage("main");
    std::thread([&] { host->logToPage("worker"); }).join();
    EXPECT_EQ(host->console, std::vector<std::string>{"main"});
    EXPECT_EQ(host->runPending(), 1u);
    EXPECT_EQ(host->console, (std::vector<std::string>{"main", "worker"}));
}
