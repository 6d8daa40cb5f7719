// Pages of one host at once, in both of its modes (a viewer process per page, and --single-process).
//
// Load: each page calls the test plug-in's "log" in a loop, and each line comes back to it as the
// plug-in's call into the page, which the page's socket answers: one page alone, then 4 and 8 at
// once, for --seconds each (default 20). Per page: calls per second and the 99th percentile of a
// call's time, and that percentile against the single page's.
// Start-up: from opening the page's WebSocket to the first picture of a 640 x 480 element of the
// real plug-in, five pages one after the other, the median.
//
//     PagesBench [--seconds N] [--single-process-only | --processes-only]
#include "app/HostApp.h"

#include "HostUnderTest.h"
#include "ProcessCensus.h"
#include "TempDir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace veltra::host;
using veltra::test::PageClient;
using veltra::test::quantile;
using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

std::unique_ptr<HostApp> startHost(bool singleProcess, const std::string& plugin, const veltra::test::TempDir& site)
{
    HostOptions options = veltra::test::hostOptionsForTests(site.path(), plugin);
    options.pictureFormat = PictureFormat::Jpeg; // as pages get them by default
    options.singleProcess = singleProcess;
    return std::make_unique<HostApp>(options);
}

struct PageLoad
{
    std::size_t calls = 0;
    std::size_t failed = 0;
    double p99 = 0.0;
};

/// `pages` pages calling "log" at once for `seconds`.
std::vector<PageLoad> load(HostApp& app, int pages, int seconds)
{
    const auto host = veltra::test::HostAddress::of(app.address());
    std::vector<std::unique_ptr<PageClient>> clients;
    std::vector<Json::Value> objects;
    std::vector<std::thread> callers, readers;
    for (int i = 0; i < pages; ++i)
    {
        clients.push_back(std::make_unique<PageClient>(host));
        if (!clients.back()->connect())
            throw std::runtime_error("a page could not connect");
        const Json::Value created = clients.back()->create(1, 32, 24);
        if (created["op"] != "created")
            throw std::runtime_error("an element could not start: " + created["error"].asString());
        objects.push_back(created["object"]);
        // From here on the page answers the plug-in's calls at once, as an idle page in a browser does.
        readers.emplace_back(
            [client = clients.back().get()] { client->nextText([](const Json::Value&) { return false; }); });
    }
    std::vector<std::vector<double>> times(pages);
    std::vector<std::size_t> failed(pages, 0);
    for (int i = 0; i < pages; ++i)
    {
        callers.emplace_back([&, i] {
            const auto end = Clock::now() + std::chrono::seconds(seconds);
            for (int n = 0; Clock::now() < end; ++n)
            {
                const auto start = Clock::now();
                try
                {
                    const Json::Value reply =
                        clients[i]->invoke(objects[i], "log", veltra::test::jsonArray({"line " + std::to_string(n)}));
                    if (!reply["ok"].asBool())
                        ++failed[i];
                }
                catch (const std::exception&)
                {
                    ++failed[i];
                }
                times[i].push_back(milliseconds(Clock::now() - start));
            }
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    for (auto& client : clients)
        client->interrupt();
    for (std::thread& reader : readers)
        reader.join();
    std::vector<PageLoad> result;
    for (int i = 0; i < pages; ++i)
        result.push_back({times[i].size(), failed[i], quantile(times[i], 0.99)});
    for (auto& client : clients)
        client->close();
    return result;
}

/// The largest resident memory among this process's page processes (children running veltra-host).
double largestPageProcessMiB()
{
    double largest = 0.0;
    for (int pid : veltra::test::childrenRunning("veltra-host"))
        largest = std::max(largest, veltra::test::residentMiB(pid));
    return largest;
}

/// Milliseconds from opening a page to its element's first picture, for `pages` pages in turn; the
/// resident memory of the page's process (none in one process) and of this one, with the last page open.
std::vector<double> startUps(HostApp& app, int pages, double& pageProcessMiB, double& hostMiB)
{
    const auto host = veltra::test::HostAddress::of(app.address());
    std::vector<double> times;
    for (int i = 0; i < pages; ++i)
    {
        // The host keeps its spare ready between pages, as between a user's page loads.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        PageClient page(host);
        const auto start = Clock::now();
        if (!page.connect())
            throw std::runtime_error("a page could not connect");
        const Json::Value created = page.create(1, 640, 480);
        if (created["op"] != "created")
            throw std::runtime_error("the viewer could not start: " + created["error"].asString());
        const unsigned instance = created["instance"].asUInt();
        page.nextText([&](const Json::Value& m) { return m["op"] == "picture" && m["instance"].asUInt() == instance; });
        times.push_back(milliseconds(Clock::now() - start));
        if (i == pages - 1)
        {
            pageProcessMiB = largestPageProcessMiB();
            hostMiB = veltra::test::residentMiB(::getpid());
        }
        page.close();
    }
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = 20;
    bool processes = true, single = true;
    for (int i = 1; i < argc; ++i)
    {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--single-process-only"))
            processes = false;
        else if (!std::strcmp(argv[i], "--processes-only"))
            single = false;
        else
        {
            std::fprintf(stderr, "usage: PagesBench [--seconds N] [--single-process-only | --processes-only]\n");
            return 2;
        }
    }
    std::string why;
    if (!veltra::test::prepareHostTest(&why))
    {
        std::fprintf(stderr, "PagesBench: no display: %s\n", why.c_str());
        return 1;
    }
    veltra::test::TempDir site;
    const std::string testPlugin = veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY);
    const std::string realPlugin = veltra::test::builtLibrary("npveltra.so");

    std::vector<bool> modes;
    if (processes)
        modes.push_back(false);
    if (single)
        modes.push_back(true);
    try
    {
        for (bool singleProcess : modes)
        {
            const char* mode = singleProcess ? "single process" : "a process per page";
            std::printf("== %s\n", mode);
            auto app = startHost(singleProcess, testPlugin, site);
            double aloneP99 = 0.0;
            for (int pages : {1, 4, 8})
            {
                const std::vector<PageLoad> results = load(*app, pages, seconds);
                if (pages == 1)
                    aloneP99 = results[0].p99;
                std::printf("%d page%s for %d s:\n", pages, pages > 1 ? "s" : "", seconds);
                for (std::size_t i = 0; i < results.size(); ++i)
                    std::printf("  page %zu: %8.1f calls/s  p99 %8.2f ms  (%.1f x alone)%s\n", i + 1,
                                static_cast<double>(results[i].calls) / seconds, results[i].p99,
                                aloneP99 > 0 ? results[i].p99 / aloneP99 : 0.0,
                                results[i].failed ? ("  " + std::to_string(results[i].failed) + " failed").c_str()
                                                  : "");
                std::fflush(stdout);
            }
            app.reset();

            auto real = startHost(singleProcess, realPlugin, site);
            double pageProcessMiB = 0.0, hostMiB = 0.0;
            const std::vector<double> times = startUps(*real, 5, pageProcessMiB, hostMiB);
            std::printf("first picture of a page's element (real plug-in): median %.0f ms (", quantile(times, 0.5));
            for (std::size_t i = 0; i < times.size(); ++i)
                std::printf("%s%.0f", i ? ", " : "", times[i]);
            std::printf(")\nresident memory with that element: this process (the host and the bench's pages) %.0f MiB",
                        hostMiB);
            if (!singleProcess)
                std::printf(", its page process %.0f MiB", pageProcessMiB);
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "PagesBench: %s\n", error.what());
        return 1;
    }
    return 0;
}
