// The globe's terrain on the demo world: what one paged tile costs to build, and whether a viewer flying from the
// whole globe down to a city and back keeps its frame rate and its memory bounded.
//
// BM_TileBuild reads the pager's name for the four children of a key ("lod/x/y.<engine>.osgearth_engine_mp_tile"),
// exactly what a pager thread does; `per_tile` is the wall time of one tile (a quarter of a read).
// BM_GlobeFlight runs once, in a real window (a private Xvfb with Mesa's software OpenGL when there is no display):
// three round trips, each followed by the peak (VmHWM) and current (VmRSS) memory and the tiles left in the graph.
// The DatabasePager's expiry of PagedLODs is what keeps the second and third trips from costing more than the first.
#include "globe/DemoWorld.h"
#include "globe/GlobeFlight.h"

#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/Viewpoint>

#include <osgDB/DatabasePager>
#include <osgDB/ReadFile>

#include <benchmark/benchmark.h>

#include <cmath>
#include <exception>
#include <string>

namespace {

// The demo's first place is the whole globe, the second its first city (Paris).
const veltra::demo::DemoPlace& demoCity()
{
    return veltra::demo::demoPlaces().at(1);
}

osg::ref_ptr<osgEarth::MapNode> makeGlobe(int posts, bool imagery)
{
    osgEarth::Config terrain("terrain");
    terrain.add("tile_size", std::to_string(posts));
    osgEarth::Config options("options");
    options.add(terrain);
    osg::ref_ptr<osgEarth::Map> map = new osgEarth::Map(osgEarth::MapOptions(osgEarth::ConfigOptions(options)));
    if (imagery)
    {
        osgEarth::Config layer("image");
        layer.add("name", "world");
        layer.add("driver", "gdal");
        layer.add("url", veltra::bench::demoWorld().worldRaster.string());
        map->addImageLayer(osgEarth::ImageLayerOptions(osgEarth::ConfigOptions(layer)));
    }
    return new osgEarth::MapNode(map.get());
}

// The pager's name for the children of the global-geodetic key at `level` that holds the city (two tiles wide at
// level 0, 180 / 2^level degrees per tile).
std::string pagedName(const osgEarth::MapNode& globe, int level)
{
    const double tileDegrees = 180.0 / std::ldexp(1.0, level);
    const auto x = unsigned((demoCity().longitude + 180.0) / tileDegrees);
    const auto y = unsigned((90.0 - demoCity().latitude) / tileDegrees);
    return std::to_string(level) + "/" + std::to_string(x) + "/" + std::to_string(y) + "." +
           std::to_string(globe.getTerrainEngine()->getEngineUID()) + ".osgearth_engine_mp_tile";
}

// The demo world is written on first use; a failure skips the benchmark rather than ending the program.
bool demoWorldReady(benchmark::State& state)
{
    try
    {
        veltra::bench::demoWorld();
        return true;
    }
    catch (const std::exception& error)
    {
        state.SkipWithError(error.what());
        return false;
    }
}

void BM_TileBuild(benchmark::State& state)
{
    if (!demoWorldReady(state))
    {
        return;
    }
    const int posts = int(state.range(0));
    const bool imagery = state.range(1) != 0;
    const int level = int(state.range(2));
    osg::ref_ptr<osgEarth::MapNode> globe = makeGlobe(posts, imagery);
    const std::string name = pagedName(*globe, level);
    for (auto _ : state)
    {
        osg::ref_ptr<osg::Node> children = osgDB::readNodeFile(name);
        if (!children || !children->asGroup() || children->asGroup()->getNumChildren() != 4)
        {
            state.SkipWithError(("no four tiles from " + name).c_str());
            break;
        }
        benchmark::DoNotOptimize(children.get());
    }
    state.counters["per_tile"] =
        benchmark::Counter(4, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["tiles_per_s"] = benchmark::Counter(4, benchmark::Counter::kIsIterationInvariantRate);
    if (imagery)
    {
        state.SetLabel(veltra::bench::demoWorldSourceName());
    }
}
BENCHMARK(BM_TileBuild)
    ->ArgNames({"posts", "imagery", "level"})
    ->ArgsProduct({{17, 33}, {1, 0}, {0, 4, 8, 12}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

osgEarth::Viewpoint viewpointNamed(const osgEarth::MapNode& globe, const std::string& name)
{
    for (const osgEarth::Config& conf : globe.externalConfig().child("viewpoints").children("viewpoint"))
    {
        if (conf.value("name") == name)
        {
            return osgEarth::Viewpoint(conf);
        }
    }
    return osgEarth::Viewpoint();
}

constexpr int kWindowWidth = 1024;
constexpr int kWindowHeight = 768;
constexpr double kLegSeconds = 6.0;
constexpr double kHoldSeconds = 2.0;
constexpr int kRoundTrips = 3;

void BM_GlobeFlight(benchmark::State& state)
{
    if (!demoWorldReady(state))
    {
        return;
    }
    for (auto _ : state)
    {
        veltra::bench::GlobeFlight flight;
        std::string why;
        if (!flight.open(veltra::bench::demoWorld().earthFile, kWindowWidth, kWindowHeight, why))
        {
            state.SkipWithError(why.c_str());
            break;
        }
        const osgEarth::MapNode* globe = osgEarth::MapNode::get(flight.viewer().getSceneData());
        if (!globe)
        {
            state.SkipWithError("the scene lost its map node");
            break;
        }
        const osgEarth::Viewpoint world = viewpointNamed(*globe, veltra::demo::demoPlaces().at(0).name);
        const osgEarth::Viewpoint city = viewpointNamed(*globe, demoCity().name);
        if (!world.isValid() || !city.isValid())
        {
            state.SkipWithError("the demo earth file lacks its globe and city viewpoints");
            break;
        }
        flight.settle(world, kHoldSeconds);
        const veltra::bench::ProcessMemory before = veltra::bench::readProcessMemory();
        state.counters["rss_mb_0"] = before.residentMiB;
        state.counters["tiles_0"] = flight.tiles().tiles;

        double frames = 0.0, seconds = 0.0;
        for (int trip = 1; trip <= kRoundTrips; ++trip)
        {
            veltra::bench::FlightFigures figures;
            if (!flight.roundTrip(world, city, kLegSeconds, kHoldSeconds, figures, why))
            {
                state.SkipWithError(why.c_str());
                break;
            }
            const std::string n = std::to_string(trip);
            state.counters["fps_" + n] = figures.framesPerSecond();
            state.counters["hwm_mb_" + n] = figures.memory.peakMiB;
            state.counters["rss_mb_" + n] = figures.memory.residentMiB;
            state.counters["max_tiles_" + n] = figures.mostTiles;
            state.counters["end_tiles_" + n] = figures.atEnd.tiles;
            state.counters["max_level_" + n] = figures.deepestLevelSeen;
            frames += figures.frames;
            seconds += figures.seconds;
        }
        state.counters["fps"] = seconds > 0.0 ? frames / seconds : 0.0;
        // What the later trips added over the first: near zero while the pager's expiry bounds the terrain.
        if (state.counters.count("rss_mb_" + std::to_string(kRoundTrips)))
        {
            state.counters["rss_growth_mb"] =
                state.counters["rss_mb_" + std::to_string(kRoundTrips)] - state.counters["rss_mb_1"];
        }
        if (osgDB::DatabasePager* pager = flight.viewer().getDatabasePager())
        {
            state.counters["pager_target_plods"] = pager->getTargetMaximumNumberOfPageLOD();
        }
    }
    state.SetLabel(std::string(veltra::bench::demoWorldSourceName()) + ", " + std::to_string(kWindowWidth) + "x" +
                   std::to_string(kWindowHeight));
}
BENCHMARK(BM_GlobeFlight)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
