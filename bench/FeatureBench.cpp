// Feature layers on the globe: what it costs to turn GeoJSON text into the compiled, indexed node of a tile
// (FeatureModelGraph::load with text), for N polygons of 10 vertices each, and to take one feature out of a
// 10,000-feature node again through its index. Linear growth shows as per_feature staying flat across N.
//
// BM_FeatureMemory loads 100,000 polygons into a layer's graph and reports the resident memory they added.
// BM_FeatureFrame draws the demo globe in a real window (a private Xvfb with Mesa's software OpenGL when there is no
// display) looking at Europe, first without and then with a 10,000-polygon layer over it; `layer_cost` is the ratio
// of the two frame times, taken in the same run.
// BM_PageAddFeatures and BM_PageRemoveFeature make the page's calls "addfeatures" and "removefeature" on a layer of
// 10,000 polygons; `locked_ms` is how long of each the scene had to be locked (the rest runs beside the drawing).
#include "globe/DemoWorld.h"
#include "globe/GlobeFlight.h"

#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/ModelLayer>
#include <osgEarthDrivers/model_feature_geom/FeatureGeomModelOptions>
#include <osgEarthFeatures/FeatureModelGraph>
#include <osgEarthFeatures/FeatureModelSource>
#include <osgEarthFeatures/FeatureSource>
#include <osgEarthFeatures/FeatureSourceIndexNode>
#include <osgEarthFeatures/Session>

#include <PluginEarth/pluginFeatures.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <exception>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace {

using namespace osgEarth;
using namespace osgEarth::Features;

// N small decagons scattered over Europe, each with a numeric id.
std::string polygonsText(int count)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> lon(-10.0, 30.0);
    std::uniform_real_distribution<double> lat(35.0, 60.0);
    std::ostringstream text;
    text.precision(9);
    text << R"({"type":"FeatureCollection","features":[)";
    for (int i = 0; i < count; ++i)
    {
        const double x = lon(random);
        const double y = lat(random);
        text << (i ? "," : "") << R"({"type":"Feature","id":)" << i + 1
             << R"(,"properties":{},"geometry":{"type":"Polygon","coordinates":[[)";
        for (int k = 0; k <= 10; ++k)
        {
            const double angle = 2.0 * M_PI * (k % 10) / 10.0;
            text << (k ? "," : "") << '[' << x + 0.01 * std::cos(angle) << ',' << y + 0.01 * std::sin(angle) << ']';
        }
        text << "]]}}";
    }
    text << "]}";
    return text.str();
}

// A graph over a URL-less "tfs" source with indexing on, as the earth plug-in makes for its feature layers.
osg::ref_ptr<FeatureModelGraph> indexedGraph(Map* map)
{
    Config features("features");
    features.set("driver", "tfs");
    Config conf("model");
    conf.set("driver", "feature_geom");
    conf.add(features);
    conf.add(Config("feature_indexing"));
    Drivers::FeatureGeomModelOptions options{ConfigOptions(conf)};
    osg::ref_ptr<FeatureSource> source = FeatureSourceFactory::create(options.featureOptions().get());
    osg::ref_ptr<Session> session = new Session(map, options.styles().get(), source.get());
    return new FeatureModelGraph(session.get(), options, new GeomFeatureNodeFactory());
}

void BM_FeatureLoad(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const std::string text = polygonsText(count);
    osg::ref_ptr<Map> map = new Map();
    osg::ref_ptr<FeatureModelGraph> graph = indexedGraph(map.get());
    for (auto _ : state)
    {
        osg::ref_ptr<osg::Node> node = graph->load(0, 0, 0, "tile", text);
        if (!node)
            state.SkipWithError("the text did not load");
        benchmark::DoNotOptimize(node.get());
    }
    state.counters["per_feature"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * count, benchmark::Counter::kIsRate |
                                                                                 benchmark::Counter::kInvert);
}
BENCHMARK(BM_FeatureLoad)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_FeatureRemove(benchmark::State& state)
{
    const std::string text = polygonsText(10000);
    osg::ref_ptr<Map> map = new Map();
    osg::ref_ptr<FeatureModelGraph> graph = indexedGraph(map.get());
    FeatureID next = 1;
    osg::ref_ptr<FeatureSourceIndexNode> index;
    for (auto _ : state)
    {
        if (!index || next > 10000)
        {
            state.PauseTiming();
            index = dynamic_cast<FeatureSourceIndexNode*>(graph->load(0, 0, 0, "tile", text));
            next = 1;
            state.ResumeTiming();
            if (!index)
            {
                state.SkipWithError("the text did not load into an index node");
                break;
            }
        }
        index->removeFeature(next++);
    }
}
BENCHMARK(BM_FeatureRemove)->Unit(benchmark::kMicrosecond);

// A page's feature layer over a bare map, whose scene changes are timed as if they held the scene lock.
struct PageLayer
{
    PageLayer()
    {
        features->setMapNode(mapNode.get());
        features->setSceneChangeRunner([this](const std::function<void()>& change) {
            const auto start = std::chrono::steady_clock::now();
            change();
            locked += std::chrono::steady_clock::now() - start;
        });
        features->createlayer("bench", R"({"fill":"#ff3300"})");
    }

    osg::ref_ptr<Map> map = new Map();
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    osg::ref_ptr<pluginFeatures> features = new pluginFeatures();
    std::chrono::steady_clock::duration locked{};
};

void reportLocked(benchmark::State& state, std::chrono::steady_clock::duration locked)
{
    state.counters["locked_ms"] = benchmark::Counter(std::chrono::duration<double, std::milli>(locked).count(),
                                                     benchmark::Counter::kAvgIterations);
}

void BM_PageAddFeatures(benchmark::State& state)
{
    const std::string text = polygonsText(static_cast<int>(state.range(0)));
    std::chrono::steady_clock::duration locked{};
    for (auto _ : state)
    {
        state.PauseTiming();
        auto layer = std::make_unique<PageLayer>(); // a fresh layer each time, as a page that replaces its layer
        layer->locked = {};
        state.ResumeTiming();
        if (!layer->features->addfeatures("bench", text))
            state.SkipWithError("the features were not added");
        state.PauseTiming();
        locked += layer->locked;
        layer.reset();
        state.ResumeTiming();
    }
    reportLocked(state, locked);
}
BENCHMARK(BM_PageAddFeatures)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_PageRemoveFeature(benchmark::State& state)
{
    PageLayer layer;
    if (!layer.features->addfeatures("bench", polygonsText(10000)))
    {
        state.SkipWithError("the features were not added");
        return;
    }
    layer.locked = {};
    // The visitor reports every find on standard output; the bench keeps its own output readable.
    std::streambuf* out = std::cout.rdbuf(nullptr);
    int next = 1;
    for (auto _ : state)
    {
        layer.features->removefeature("bench", std::to_string(next));
        next = next % 10000 + 1;
    }
    std::cout.rdbuf(out);
    reportLocked(state, layer.locked);
}
BENCHMARK(BM_PageRemoveFeature)->Unit(benchmark::kMillisecond);

void BM_FeatureMemory(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state)
    {
        const double before = veltra::bench::readProcessMemory().residentMiB;
        osg::ref_ptr<Map> map = new Map();
        osg::ref_ptr<FeatureModelGraph> graph = indexedGraph(map.get());
        {
            // The text is dropped before measuring, as the page's text is once the call returns.
            const std::string text = polygonsText(count);
            osg::ref_ptr<osg::Node> node = graph->load(0, 0, 0, "tile", text);
            if (!node)
            {
                state.SkipWithError("the text did not load");
                break;
            }
            graph->addChild(node.get());
        }
        const double after = veltra::bench::readProcessMemory().residentMiB;
        state.counters["rss_mb"] = after;
        state.counters["added_mb"] = after - before;
        state.counters["bytes_per_polygon"] = (after - before) * 1024.0 * 1024.0 / count;
        state.counters["peak_mb"] = veltra::bench::readProcessMemory().peakMiB;
    }
}
BENCHMARK(BM_FeatureMemory)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The layer as the page's feature calls make it: a named model layer over a URL-less "tfs" source with indexing on,
// and the polygons loaded from text into its graph.
bool addPolygonLayer(osgEarth::MapNode& mapNode, int count)
{
    Config conf("model");
    conf.set("name", "bench");
    conf.set("driver", "feature_geom");
    Config features("features");
    features.set("driver", "tfs");
    conf.add(features);
    conf.add(Config("feature_indexing"));
    Config styles("styles");
    Config style("style", "default { fill: #ff3300; }");
    style.set("type", "text/css");
    styles.add(style);
    conf.add(styles);
    osg::ref_ptr<ModelLayer> layer = new ModelLayer(ModelLayerOptions(ConfigOptions(conf)));
    mapNode.getMap()->addModelLayer(layer.get());
    osg::Group* layerNode = mapNode.getModelLayerNode(layer.get()) ? mapNode.getModelLayerNode(layer.get())->asGroup()
                                                                   : nullptr;
    auto* graph = layerNode && layerNode->getNumChildren() ? dynamic_cast<FeatureModelGraph*>(layerNode->getChild(0))
                                                           : nullptr;
    osg::ref_ptr<osg::Node> node = graph ? graph->load(0, 0, 0, "1.0_0_0.osgearth_pseudo_fmg", polygonsText(count))
                                         : nullptr;
    if (!node)
        return false;
    graph->addChild(node.get());
    return true;
}

constexpr double kFrameSettleSeconds = 3.0;
constexpr double kFrameMeasureSeconds = 6.0;

void BM_FeatureFrame(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state)
    {
        veltra::bench::GlobeFlight flight;
        std::string why;
        try
        {
            if (!flight.open(veltra::bench::demoWorld().earthFile, 1024, 768, why))
            {
                state.SkipWithError(why.c_str());
                break;
            }
        }
        catch (const std::exception& error)
        {
            state.SkipWithError(error.what());
            break;
        }
        osgEarth::MapNode* mapNode = osgEarth::MapNode::get(flight.viewer().getSceneData());
        if (!mapNode)
        {
            state.SkipWithError("the scene has no map node");
            break;
        }
        // The polygons are scattered over 10°W-30°E, 35°N-60°N; this view holds all of them.
        const osgEarth::Viewpoint europe("europe", 10.0, 47.5, 0.0, 0.0, -90.0, 5.0e6);
        flight.settle(europe, kFrameSettleSeconds);
        veltra::bench::FlightFigures empty;
        flight.renderFor(kFrameMeasureSeconds, empty);

        if (!addPolygonLayer(*mapNode, count))
        {
            state.SkipWithError("the polygon layer could not be built");
            break;
        }
        flight.settle(europe, kFrameSettleSeconds);
        veltra::bench::FlightFigures layer;
        flight.renderFor(kFrameMeasureSeconds, layer);

        const double emptyMs = 1000.0 / empty.framesPerSecond();
        const double layerMs = 1000.0 / layer.framesPerSecond();
        state.counters["frame_ms_empty"] = emptyMs;
        state.counters["frame_ms_layer"] = layerMs;
        state.counters["layer_cost"] = layerMs / emptyMs;
    }
    state.SetLabel(veltra::bench::demoWorldSourceName());
}
BENCHMARK(BM_FeatureFrame)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
