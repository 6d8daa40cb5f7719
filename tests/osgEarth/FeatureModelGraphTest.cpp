#include "FeatureTestSupport.h"
#include "NotifyCapture.h"
#include "TempDir.h"

#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/ModelLayer>
#include <osgEarthDrivers/model_feature_geom/FeatureGeomModelOptions>
#include <osgEarthFeatures/FeatureModelGraph>
#include <osgEarthFeatures/FeatureSourceIndexNode>
#include <osgEarthFeatures/Session>

#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace osgEarth;
using namespace osgEarth::Features;
using veltra::test::NotifyCapture;
using veltra::test::TempDir;

namespace {

// Two lines with their own ids, so FIDs in the index can only come from the text.
const char* const kTwoRoads = R"({"type":"FeatureCollection","features":[
 {"type":"Feature","id":7,"properties":{},"geometry":{"type":"LineString","coordinates":[[10,10],[11,11]]}},
 {"type":"Feature","id":9,"properties":{},"geometry":{"type":"LineString","coordinates":[[20,20],[21,22]]}}]})";

struct GeometryCounter : public osg::NodeVisitor
{
    GeometryCounter() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Geometry& geometry) override
    {
        primitiveSets += geometry.getNumPrimitiveSets();
        ++geometries;
    }
    unsigned geometries = 0;
    unsigned primitiveSets = 0;
};

GeometryCounter countGeometry(osg::Node* node)
{
    GeometryCounter counter;
    if (node)
        node->accept(counter);
    return counter;
}

Config featuresConfig(const std::string& driver, const std::string& url = std::string())
{
    Config features("features");
    features.set("driver", driver);
    if (!url.empty())
        features.set("url", url);
    return features;
}

Config modelConfig(const Config& features, bool indexing)
{
    Config conf("model");
    conf.set("name", "roads");
    conf.set("driver", "feature_geom");
    conf.add(features);
    if (indexing)
        conf.add(Config("feature_indexing"));
    return conf;
}

class FeatureModelGraphFixture : public ::testing::Test
{
protected:
    // A graph over the features the options name, opened the way the model driver opens them.
    osg::ref_ptr<FeatureModelGraph> makeGraph(const Config& conf)
    {
        Drivers::FeatureGeomModelOptions options{ConfigOptions(conf)};
        osg::ref_ptr<FeatureSource> source = FeatureSourceFactory::create(options.featureOptions().get());
        EXPECT_TRUE(source.valid());
        osg::ref_ptr<Session> session = new Session(map.get(), options.styles().get(), source.get());
        return new FeatureModelGraph(session.get(), options, new GeomFeatureNodeFactory());
    }

    std::vector<FeatureID> fidsOf(osg::Node* node)
    {
        auto* index = dynamic_cast<FeatureSourceIndexNode*>(node);
        return index ? index->getFIDs() : std::vector<FeatureID>{};
    }

    TempDir dir;
    osg::ref_ptr<Map> map = new Map();
};

} // namespace

TEST_F(FeatureModelGraphFixture, UidsCountUpAndGraphsAreFoundWhileTheyLive)
{
    osg::ref_ptr<FeatureModelGraph> first = makeGraph(modelConfig(featuresConfig("tfs"), false));
    osg::ref_ptr<FeatureModelGraph> second = makeGraph(modelConfig(featuresConfig("tfs"), false));
    EXPECT_GE(first->getUID(), 1u) << "numbering starts at 1";
    EXPECT_EQ(second->getUID(), first->getUID() + 1);
    EXPECT_EQ(first->pseudoURI(0, 0, 0), std::to_string(first->getUID()) + ".0_0_0.osgearth_pseudo_fmg");
    EXPECT_EQ(second->pseudoURI(3, 5, 2), std::to_string(second->getUID()) + ".3_5_2.osgearth_pseudo_fmg");

    EXPECT_EQ(FeatureModelGraph::findByUID(first->getUID()), first);
    const unsigned gone = second->getUID();
    second = nullptr;
    EXPECT_EQ(FeatureModelGraph::findByUID(gone), nullptr) << "the registry must not keep graphs alive";
    EXPECT_EQ(FeatureModelGraph::findByUID(0), nullptr);
}

TEST_F(FeatureModelGraphFixture, UntiledOgrSourceCompilesIntoOneTileGroup)
{
    const std::string path = dir.write("roads.geojson", kTwoRoads);
    struct Case
    {
        bool indexing;
    };
    for (const Case c : {Case{true}, Case{false}})
    {
        osg::ref_ptr<FeatureModelGraph> graph = makeGraph(modelConfig(featuresConfig("ogr", path), c.indexing));
        ASSERT_EQ(graph->getNumChildren(), 1u) << c.indexing;
        EXPECT_FALSE(graph->isPaged()) << "no layout: compiled at once";
        osg::ref_ptr<osg::Node> noTile = graph->load(0, 0, 0, graph->pseudoURI(0, 0, 0));
        ASSERT_TRUE(noTile.valid());
        EXPECT_EQ(noTile->asGroup()->getNumChildren(), 0u) << "an unpaged graph has no tiles to load";
        osg::Node* tile = graph->getChild(0);
        EXPECT_EQ(dynamic_cast<FeatureSourceIndexNode*>(tile) != nullptr, c.indexing);
        const GeometryCounter counted = countGeometry(tile);
        EXPECT_GE(counted.geometries, 1u) << c.indexing;
        EXPECT_GE(counted.primitiveSets, 2u) << "one primitive set per feature at least";
        if (c.indexing)
        {
            EXPECT_EQ(fidsOf(tile), (std::vector<FeatureID>{7, 9}));
        }
    }
}

TEST_F(FeatureModelGraphFixture, UrlLessTfsGivesAnEmptyGraphWithItsContentChild)
{
    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(modelConfig(featuresConfig("tfs"), true));
    ASSERT_EQ(graph->getNumChildren(), 1u);
    ASSERT_NE(graph->getChild(0)->asGroup(), nullptr);
    EXPECT_EQ(graph->getChild(0)->asGroup()->getNumChildren(), 0u);
    EXPECT_EQ(countGeometry(graph.get()).geometries, 0u);
}

TEST_F(FeatureModelGraphFixture, LoadWithFeatureTextCompilesThoseFeatures)
{
    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(modelConfig(featuresConfig("tfs"), true));
    osg::ref_ptr<osg::Node> node = graph->load(3, 1, 2, "tile", kTwoRoads);
    ASSERT_TRUE(node.valid());
    EXPECT_EQ(fidsOf(node.get()), (std::vector<FeatureID>{7, 9}));
    EXPECT_GE(countGeometry(node.get()).primitiveSets, 2u);

    osg::ref_ptr<osg::Node> none = graph->load(0, 0, 0, "empty", R"({"type":"FeatureCollection","features":[]})");
    ASSERT_TRUE(none.valid()) << "no features is not an error";
    EXPECT_TRUE(fidsOf(none.get()).empty());

    osg::ref_ptr<FeatureModelGraph> plain = makeGraph(modelConfig(featuresConfig("tfs"), false));
    osg::ref_ptr<osg::Node> unindexed = plain->load(0, 0, 0, "tile", kTwoRoads);
    ASSERT_TRUE(unindexed.valid());
    EXPECT_EQ(dynamic_cast<FeatureSourceIndexNode*>(unindexed.get()), nullptr);

    for (const char* bad : {"", "{", "not json at all", R"({"type":"Feature","id":1,"geometry":null})",
                            R"({"type":"FeatureCollection","features":[{"type":"Feature","geometry":
                                {"type":"Point","coordinates":[500,0]}}]})"})
    {
        NotifyCapture warnings(osg::WARN);
        EXPECT_EQ(osg::ref_ptr<osg::Node>(graph->load(0, 0, 0, "bad", bad)), nullptr) << bad;
        EXPECT_TRUE(warnings.contains("FeatureModelGraph")) << bad;
    }
}

TEST_F(FeatureModelGraphFixture, FeatureGeomModelLayerPutsTheGraphAtChildZero)
{
    ASSERT_TRUE(ModelSourceFactory::isRegistered("feature_geom"));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    osg::ref_ptr<ModelLayer> layer = new ModelLayer(ModelLayerOptions(modelConfig(featuresConfig("tfs"), true)));
    map->addModelLayer(layer.get());
    osg::Node* layerNode = mapNode->getModelLayerNode(layer.get());
    ASSERT_NE(layerNode, nullptr);
    ASSERT_NE(layerNode->asGroup(), nullptr);
    ASSERT_GE(layerNode->asGroup()->getNumChildren(), 1u);
    EXPECT_NE(dynamic_cast<FeatureModelGraph*>(layerNode->asGroup()->getChild(0)), nullptr);

    // Without any feature source the driver builds nothing, and says so.
    NotifyCapture warnings(osg::WARN);
    Config bare("model");
    bare.set("name", "bare");
    bare.set("driver", "feature_geom");
    osg::ref_ptr<ModelLayer> empty = new ModelLayer(ModelLayerOptions(bare));
    map->addModelLayer(empty.get());
    EXPECT_EQ(mapNode->getModelLayerNode(empty.get()), nullptr);
    EXPECT_TRUE(warnings.contains("no feature source"));
}

TEST_F(FeatureModelGraphFixture, EarthFileModelOverOgrDraws)
{
    dir.write("roads.geojson", kTwoRoads);
    const std::string earth = dir.write("roads.earth", R"(<map version="2">
    <model name="roads" driver="feature_geom">
        <features name="roads" driver="ogr"><url>roads.geojson</url></features>
        <feature_indexing enabled="true"/>
        <styles><style type="text/css"> roads { stroke: #ffff00; stroke-width: 2px; } </style></styles>
    </model>
</map>)");
    const featuretest::EarthLayer roads = featuretest::readEarthLayer(earth, "roads");
    ASSERT_TRUE(roads.mapNode.valid());
    EXPECT_EQ(roads.mapNode->getMap()->getModelLayerConfigs().size(), 1u) << "the kept configs stay";
    auto* graph = roads.child<FeatureModelGraph>();
    ASSERT_NE(graph, nullptr);
    EXPECT_GE(countGeometry(roads.group).primitiveSets, 2u);
    EXPECT_EQ(fidsOf(graph->getChild(0)), (std::vector<FeatureID>{7, 9}));
}
