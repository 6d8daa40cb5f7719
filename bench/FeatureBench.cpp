// Feature layers on the globe: what it costs to turn GeoJSON text into the compiled, indexed node of a tile
// (FeatureModelGraph::load with text), for N polygons of 10 vertices each, and to take one feature out of a
// 10,000-feature node again through its index. Linear growth shows as per_feature staying flat across N.
#include <osgEarth/Map>
#include <osgEarthDrivers/model_feature_geom/FeatureGeomModelOptions>
#include <osgEarthFeatures/FeatureModelGraph>
#include <osgEarthFeatures/FeatureModelSource>
#include <osgEarthFeatures/FeatureSource>
#include <osgEarthFeatures/FeatureSourceIndexNode>
#include <osgEarthFeatures/Session>

#include <benchmark/benchmark.h>

#include <cmath>
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

} // namespace

BENCHMARK_MAIN();
