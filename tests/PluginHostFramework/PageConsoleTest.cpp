// The page's console as the plug-in writes to it through a browser: what arrives, in what order, and at what cost
// in page calls, which are round trips where the page runs in another process.

#include "PluginHarness.h"

#include "logging/Log.h"
#include "npapi/NpapiBrowser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

using FB::Npapi::NpapiBrowser;
using veltra::test::ScriptedPage;
using veltra::test::TestBrowser;

namespace {

// The browser's own table, and how many calls into page script went through the counting one.
const NPNetscapeFuncs* g_browserFuncs = nullptr;
std::atomic<int> g_pageCalls{0};

bool countedInvoke(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                   NPVariant* result)
{
    ++g_pageCalls;
    return g_browserFuncs->invoke(npp, object, name, args, count, result);
}

bool countedInvokeDefault(NPP npp, NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
{
    ++g_pageCalls;
    return g_browserFuncs->invokeDefault(npp, object, args, count, result);
}

bool countedGetProperty(NPP npp, NPObject* object, NPIdentifier name, NPVariant* result)
{
    ++g_pageCalls;
    return g_browserFuncs->getproperty(npp, object, name, result);
}

bool countedEvaluate(NPP npp, NPObject* object, NPString* script, NPVariant* result)
{
    ++g_pageCalls;
    return g_browserFuncs->evaluate(npp, object, script, result);
}

class PageConsole : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_browserFuncs = browser.funcs();
        counted = *browser.funcs();
        counted.invoke = countedInvoke;
        counted.invokeDefault = countedInvokeDefault;
        counted.getproperty = countedGetProperty;
        counted.evaluate = countedEvaluate;
        host = NpapiBrowser::create(&counted, browser.npp());
        previousSink = FB::Log::setSink([this](const std::string& source, const std::string& message) {
            if (std::this_thread::get_id() == mainThread)
                traces.push_back(source + ": " + message);
        });
    }

    void TearDown() override
    {
        host->shutdown();
        host.reset();
        FB::Log::setSink(previousSink);
    }

    // Lets the browser thread run what the host scheduled; the page calls that took.
    int flush()
    {
        int before = g_pageCalls;
        browser.runPendingCalls();
        return g_pageCalls - before;
    }

    bool traced(const std::string& line) const { return std::find(traces.begin(), traces.end(), line) != traces.end(); }

    TestBrowser browser;
    ScriptedPage page{browser};
    NPNetscapeFuncs counted{};
    FB::Npapi::NpapiBrowserPtr host;
    std::thread::id mainThread = std::this_thread::get_id();
    std::vector<std::string> traces;
    FB::Log::Sink previousSink;
};

} // namespace

TEST_F(PageConsole, TextsArriveByteForByteInOrderAndNeverAsScript)
{
    struct Case
    {
        const char* what;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"empty", ""},
        {"quotes", R"(say "hi" and 'bye')"},
        {"backslashes", R"(C:\data\new\ and a trailing \)"},
        {"line breaks and tabs", "one\ntwo\r\nthree\tfour"},
        {"line and paragraph separators", "a\xe2\x80\xa8"
                                          "b\xe2\x80\xa9"
                                          "c"},
        {"code that closes a literal", "\"); alert(1); (\"</script>"},
        {"outside the basic plane", "\xf0\x9f\x8f\x97 crane"},
        {"GBK", "\xb4\xb0\xbf\xda\xb9\xd8\xb1\xd5shutdown...."},
        {"a lead byte cut off at the end", "\xe4\xb8"},
        {"continuation bytes alone", "\x80\xbf"},
        {"NUL inside", std::string("before\0after", 12)},
    };
    std::vector<std::string> expected;
    std::vector<std::string> expectedWarnings;
    for (std::size_t i = 0; i < cases.size(); ++i)
    {
        expected.push_back(cases[i].text);
        if (i % 2)
        {
            host->warnToPage(cases[i].text);
            expectedWarnings.push_back(cases[i].text);
        }
        else
        {
            host->logToPage(cases[i].text);
        }
    }
    EXPECT_TRUE(page.console.empty());
    EXPECT_EQ(flush(), 2) << "the first batch defines the page function, then calls it";
    EXPECT_EQ(page.consoleCalls, 1u);
    ASSERT_EQ(page.console.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(page.console[i], cases[i].text) << cases[i].what;
    EXPECT_EQ(page.warnings, expectedWarnings);
    for (const std::string& script : browser.evaluated())
        EXPECT_EQ(script.find("alert(1)"), std::string::npos) << "a text became script: " << script;
}

TEST_F(PageConsole, ABatchCostsOnePageCallWhateverItsSize)
{
    host->logToPage("defines the page function");
    flush();
    for (int lines : {1, 10000})
    {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < lines; ++i)
            host->logToPage("part " + std::to_string(i) + " highlighted");
        auto queued = std::chrono::steady_clock::now();
        int calls = flush();
        auto written = std::chrono::steady_clock::now();
        EXPECT_EQ(calls, 1) << lines << " lines";
        EXPECT_EQ(page.console.back(), "part " + std::to_string(lines - 1) + " highlighted");
        using us = std::chrono::microseconds;
        std::cout << lines << " lines: the logging call " << std::chrono::duration_cast<us>(queued - start).count()
                  << " us, writing them " << std::chrono::duration_cast<us>(written - queued).count() << " us in "
                  << calls << " page call(s)" << std::endl;
    }

    // Beyond what one script call takes as arguments: more calls, the order kept across them.
    page.console.clear();
    const int many = 40000;
    for (int i = 0; i < many; ++i)
        host->logToPage(std::to_string(i));
    int calls = flush();
    EXPECT_GT(calls, 1);
    EXPECT_LE(calls, 4);
    ASSERT_EQ(page.console.size(), static_cast<std::size_t>(many));
    for (int i = 0; i < many; ++i)
        ASSERT_EQ(page.console[i], std::to_string(i));
}

TEST_F(PageConsole, APageThatLosesTheFunctionOrHasNoConsoleFailsInTheTraceNotTheCall)
{
    host->logToPage("defines the page function");
    flush();

    // A script replaced our function: it is defined again, once, and the batch still arrives.
    browser.window()->methods.erase("__FB_CONSOLE");
    host->logToPage("after the page lost it");
    EXPECT_EQ(flush(), 3) << "the failed call, the definition, the call again";
    EXPECT_EQ(page.console.back(), "after the page lost it");
    EXPECT_FALSE(traced("BrowserHost: Logging to browser console failed"));

    // No console: the function says so, and nothing is retried.
    browser.page().removeProperty(*browser.window(), "console");
    host->logToPage("nowhere to go");
    EXPECT_EQ(flush(), 1);
    EXPECT_TRUE(traced("BrowserHost: Logging to browser console failed"));
    EXPECT_EQ(page.console.back(), "after the page lost it");

    // A page that evaluates nothing: the batch is reported lost, and the next one tries to define the function again.
    traces.clear();
    browser.setEvaluator([](const std::string&) -> veltra::test::PageValue { throw std::runtime_error("no"); });
    browser.window()->methods.erase("__FB_CONSOLE");
    host->logToPage("no script runs here");
    flush();
    EXPECT_TRUE(traced("BrowserHost: Logging to browser console failed"));
    std::size_t evaluations = browser.evaluated().size();
    host->logToPage("nor here");
    flush();
    EXPECT_EQ(browser.evaluated().size(), evaluations + 1);
}

TEST_F(PageConsole, ShutdownWritesWhatIsQueuedThenOnlyTheBrowserThreadsLastWords)
{
    host->logToPage("queued");
    host->warnToPage("queued warning");
    host->shutdown();
    EXPECT_EQ(page.console, (std::vector<std::string>{"queued", "queued warning"})) << "written by shutdown itself";
    EXPECT_EQ(page.warnings, std::vector<std::string>{"queued warning"});

    host->logToPage("last words");
    EXPECT_EQ(page.console.back(), "last words") << "written at once: no flush can be scheduled any more";
    std::thread([&] { host->warnToPage("from a worker"); }).join();
    browser.runPendingCalls();
    EXPECT_EQ(page.console.size(), 3u) << "a line from another thread after shutdown is dropped";
}
