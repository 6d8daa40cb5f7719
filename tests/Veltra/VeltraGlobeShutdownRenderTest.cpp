// Closing a page whose viewer shows a globe: the plug-in object goes while its frame loop draws, the
// database pager reads terrain tiles and the camera is in flight. Destroying it must always end.

#include "GeoRasters.h"
#include "PluginInWindow.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

using veltra::test::TempDir;

namespace {

using namespace std::chrono_literals;

// An image layer the pager reads tile by tile, and small tiles kept only while close: every camera
// move sends the pager new work.
const char* const kPagedGlobe = R"(<map type="geocentric" version="2">
    <options><terrain min_tile_range_factor="12"/></options>
    <image name="world" driver="gdal"><url>world.tif</url></image>
</map>)";

// Ends the process when a step outlives its limit: a hang then shows as a failed test that names the
// step, not as a test run that never ends.
class Watchdog
{
public:
    Watchdog(const char* step, std::chrono::seconds limit)
        : _thread([this, step, limit] {
              std::unique_lock<std::mutex> guard(_mutex);
              if (!_ended.wait_for(guard, limit, [this] { return _done; }))
              {
                  std::fprintf(stderr, "%s did not end within %lld s\n", step,
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          })
    {}
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> guard(_mutex);
            _done = true;
        }
        _ended.notify_all();
        _thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex _mutex;
    std::condition_variable _ended;
    bool _done = false;
    std::thread _thread; // last: started once the members it reads exist
};

using VeltraGlobeShutdownRender = veltra::test::PluginInWindow;

} // namespace

TEST_F(VeltraGlobeShutdownRender, DestroyingThePluginWhileTilesPageAndTheCameraFliesEnds)
{
    TempDir folder;
    ASSERT_TRUE(veltra::test::writeHemispheres(folder.file("world.tif"), "GTiff", 512, 256));
    const std::string earth = folder.write("world.earth", kPagedGlobe);

    // Flights between far and close views, cut short at a different moment each round.
    const char* const flights[] = {
        R"({"long":"10","lat":"25","pitch":"-60","range":"20000","time":"2"})",
        R"({"long":"120","lat":"30","pitch":"-45","range":"5000","time":"3"})",
        R"({"long":"-70","lat":"-20","pitch":"-89","range":"2e7","time":"1"})",
    };
    const int rounds = 12;
    for (int round = 0; round < rounds; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        create();
        ASSERT_TRUE(call("loadearthfile", {text(earth)}).ok);
        ASSERT_TRUE(call("setviewpoint", {text(R"({"long":"10","lat":"25","range":"1e6"})")}).ok);
        // Let the first tiles page in, then start a flight and close the page during it.
        page->pumpUntil([] { return false; }, std::chrono::milliseconds(100 + 60 * round));
        ASSERT_TRUE(call("setviewpoint", {text(flights[round % 3])}).ok);
        page->pumpUntil([] { return false; }, std::chrono::milliseconds(25 * (round % 5)));

        Watchdog watchdog("destroying the plug-in object with a globe", 60s);
        browser.release(api);
        api = nullptr;
        EXPECT_EQ(plugin.destroy(browser.npp(), nullptr), NPERR_NO_ERROR);
        alive = false;
        browser.runPendingCalls();
    }
}
