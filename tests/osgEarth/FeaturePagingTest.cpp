#include "FeatureTestSupport.h"
#include "LoopbackHttp.h"
#include "NotifyCapture.h"
#include "OffscreenRender.h"
#include "TempDir.h"
#include "ViewerHarness.h"
#include "VirtualDisplay.h"

#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/ModelLayer>
#include <osgEarthDrivers/model_feature_geom/FeatureGeomModelOptions>
#include <osgEarthFeatures/FeatureModelGraph>
#include <osgEarthFeatures/FeatureSourceIndexNode>
#include <osgEarthFeatures/Session>

#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace osgEarth;
using namespace osgEarth::Features;
using veltra::test::HttpRequest;
using veltra::test::HttpResponse;
using veltra::test::LoopbackHttpServer;
using veltra::test::NotifyCapture;
using veltra::test::TempDir;

namespace {

// Levels 1..2 over a 10° square; level 0 exists only in the paging tree.
const char* const kMetadata = R"(<Layer><FirstLevel>1</FirstLevel><MaxLevel>2</MaxLevel><SRS>EPSG:4326</SRS>
<BoundingBox minx="10" miny="40" maxx="20" maxy="50"/></Layer>)";

// The tile's one feature has the id 1000·lod + 100·x + row, the row as the URL gives it (from the south).
std::string tileBody(unsigned lod, unsigned x, unsigned row)
{
    return R"({"type":"FeatureCollection","features":[{"type":"Feature","id":)" +
           std::to_string(1000 * lod + 100 * x + row) +
           R"(,"properties":{},"geometry":{"type":"LineString","coordinates":[[11,41],[12,42]]}}]})";
}

// Feature ids found on tagged primitive sets and nodes, looking into paged sub-tiles only when asked.
struct TagCollector : public osg::NodeVisitor
{
    explicit TagCollector(bool subTiles = false) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), intoSubTiles(subTiles) {}
    void apply(osg::Node& node) override
    {
        if (auto* tag = dynamic_cast<const RefFeatureID*>(node.getUserData()))
            fids.insert(*tag);
        if (intoSubTiles || !dynamic_cast<osg::PagedLOD*>(&node))
            traverse(node);
    }
    void apply(osg::Geometry& geometry) override
    {
        ++geometries;
        if (!colour.valid())
            colour = dynamic_cast<osg::Vec4Array*>(geometry.getColorArray());
        for (unsigned i = 0; i < geometry.getNumPrimitiveSets(); ++i)
        {
            if (auto* tag = dynamic_cast<const RefFeatureID*>(geometry.getPrimitiveSet(i)->getUserData()))
            {
                fids.insert(*tag);
                ++taggedSets;
            }
        }
    }
    bool intoSubTiles;
    std::set<FeatureID> fids;
    unsigned taggedSets = 0;
    unsigned geometries = 0;
    osg::ref_ptr<osg::Vec4Array> colour;
};

TagCollector tagsOf(osg::Node* node)
{
    TagCollector collector;
    if (node)
        node->accept(collector);
    return collector;
}

// The sub-tile PagedLODs directly under a tile.
std::vector<osg::PagedLOD*> subTiles(osg::Node* tile)
{
    std::vector<osg::PagedLOD*> out;
    osg::Group* group = tile ? tile->asGroup() : nullptr;
    for (unsigned i = 0; group && i < group->getNumChildren(); ++i)
    {
        if (auto* paged = dynamic_cast<osg::PagedLOD*>(group->getChild(i)))
            out.push_back(paged);
    }
    return out;
}

std::set<std::string> namesOf(const std::vector<osg::PagedLOD*>& tiles)
{
    std::set<std::string> names;
    for (osg::PagedLOD* tile : tiles)
        names.insert(tile->getFileName(0));
    return names;
}

Config modelConfig(const Config& features, const Config& layout = Config())
{
    Config conf("model");
    conf.set("name", "roads");
    conf.set("driver", "feature_geom");
    conf.add(features);
    conf.add(Config("feature_indexing"));
    if (!layout.empty())
        conf.add(layout);
    return conf;
}

class FeaturePagingTest : public ::testing::Test
{
protected:
    std::set<std::string> missingTiles; // targets answered 404
    std::set<std::string> emptyTiles;   // targets answered with no features
    LoopbackHttpServer server{[this](const HttpRequest& request) { return serve(request); }};
    osg::ref_ptr<Map> map = new Map();
    TempDir dir;

    HttpResponse serve(const HttpRequest& request) const
    {
        HttpResponse response;
        unsigned lod = 0, x = 0, row = 0;
        char tail = 0;
        if (request.target == "/tfs/roads/metadata.xml")
            response.body = kMetadata;
        else if (missingTiles.count(request.target))
            response.status = 404;
        else if (emptyTiles.count(request.target))
            response.body = R"({"type":"FeatureCollection","features":[]})";
        else if (std::sscanf(request.target.c_str(), "/tfs/roads/%u/%u/%u.json%c", &lod, &x, &row, &tail) == 3)
            response.body = tileBody(lod, x, row);
        else
            response.status = 404;
        return response;
    }

    Config tfsFeatures() const
    {
        Config features("features");
        features.set("driver", "tfs");
        features.set("url", server.url("/tfs/roads/metadata.xml"));
        return features;
    }

    osg::ref_ptr<FeatureModelGraph> makeGraph(const Config& conf)
    {
        Drivers::FeatureGeomModelOptions options{ConfigOptions(conf)};
        osg::ref_ptr<FeatureSource> source = FeatureSourceFactory::create(options.featureOptions().get());
        EXPECT_TRUE(source.valid() && source->initialize());
        osg::ref_ptr<Session> session = new Session(map.get(), options.styles().get(), source.get());
        return new FeatureModelGraph(session.get(), options, new GeomFeatureNodeFactory());
    }

    size_t requestsFor(const std::string& target) const
    {
        size_t count = 0;
        for (const HttpRequest& request : server.requests())
            count += request.target == target ? 1 : 0;
        return count;
    }
};

osg::PagedLOD* topOf(FeatureModelGraph* graph)
{
    return graph && graph->getNumChildren() == 1 ? dynamic_cast<osg::PagedLOD*>(graph->getChild(0)) : nullptr;
}

} // namespace

TEST_F(FeaturePagingTest, TiledSourceStartsWithAPagedTopTile)
{
    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(modelConfig(tfsFeatures()));
    EXPECT_TRUE(graph->isPaged());
    EXPECT_EQ(graph->getNumPagingLevels(), 3u);
    osg::PagedLOD* top = topOf(graph.get());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->getFileName(0), graph->pseudoURI(0, 0, 0));
    EXPECT_EQ(top->getNumChildren(), 0u) << "nothing is loaded before the pager asks";
    EXPECT_FLOAT_EQ(top->getMinRange(0), 0.0f);
    // Earth-centred: the middle of the square lies on the globe, and 15 bounding radii make the range.
    EXPECT_NEAR(top->getCenter().length(), 6.37e6, 0.03e6);
    EXPECT_GT(top->getRadius(), 300e3);
    EXPECT_LT(top->getRadius(), 1000e3);
    EXPECT_NEAR(top->getMaxRange(0), 15.0f * top->getRadius(), 1.0f);
    EXPECT_EQ(server.requestCount(), 1u) << "only the metadata is read up front";

    Config layout("layout");
    layout.set("max_range", 50000);
    graph = makeGraph(modelConfig(tfsFeatures(), layout));
    ASSERT_NE(topOf(graph.get()), nullptr);
    EXPECT_FLOAT_EQ(topOf(graph.get())->getMaxRange(0), 50000.0f);
}

TEST_F(FeaturePagingTest, PseudoFilesGiveTheTilesFeaturesAndSubTiles)
{
    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(modelConfig(tfsFeatures()));
    const float top = graph->getMaxRange();
    struct Case
    {
        unsigned lod, x, y;
        std::set<FeatureID> fids;
        std::set<std::string> children; // as "lod_x_y"
        const char* target;             // the tile URL fetched, or null
    };
    const std::vector<Case> cases = {
        {0, 0, 0, {}, {"1_0_0", "1_1_0", "1_0_1", "1_1_1"}, nullptr},
        {1, 1, 0, {1100}, {"2_2_0", "2_3_0", "2_2_1", "2_3_1"}, "/tfs/roads/1/1/0.json"},
        {1, 0, 1, {1001}, {"2_0_2", "2_1_2", "2_0_3", "2_1_3"}, "/tfs/roads/1/0/1.json"},
        {2, 3, 1, {2301}, {}, "/tfs/roads/2/3/1.json"},
    };
    for (const Case& c : cases)
    {
        const std::string uri = graph->pseudoURI(c.lod, c.x, c.y);
        SCOPED_TRACE(uri);
        const size_t before = server.requestCount();
        osg::ref_ptr<osg::Node> tile = osgDB::readRefNodeFile(uri);
        ASSERT_TRUE(tile.valid());
        EXPECT_EQ(server.requestCount(), before + (c.target ? 1 : 0));
        if (c.target)
        {
            EXPECT_EQ(server.requests().back().target, c.target);
            auto* index = dynamic_cast<FeatureSourceIndexNode*>(tile.get());
            ASSERT_NE(index, nullptr) << "indexing is on";
            EXPECT_EQ(index->getFIDs(), std::vector<FeatureID>(c.fids.begin(), c.fids.end()));
        }
        const TagCollector tags = tagsOf(tile.get());
        EXPECT_EQ(tags.fids, c.fids);
        EXPECT_GE(tags.taggedSets, c.fids.size());

        std::set<std::string> expected;
        for (const std::string& child : c.children)
            expected.insert(std::to_string(graph->getUID()) + "." + child + ".osgearth_pseudo_fmg");
        const std::vector<osg::PagedLOD*> children = subTiles(tile.get());
        EXPECT_EQ(namesOf(children), expected);
        for (osg::PagedLOD* child : children)
        {
            EXPECT_FLOAT_EQ(child->getMaxRange(0), top / float(2u << c.lod)) << "ranges halve per level";
            EXPECT_LT(child->getRadius(), 1000e3 / float(1u << c.lod));
        }
    }
}

TEST_F(FeaturePagingTest, EmptyAndMissingTilesAreEmptyGroupsAskedForOnce)
{
    missingTiles = {"/tfs/roads/2/0/0.json", "/tfs/roads/1/1/1.json"};
    emptyTiles = {"/tfs/roads/2/1/1.json"};
    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(modelConfig(tfsFeatures()));
    struct Case
    {
        unsigned lod, x, y;
        const char* target;
    };
    for (const Case& c : {Case{2, 0, 0, "/tfs/roads/2/0/0.json"}, Case{2, 1, 1, "/tfs/roads/2/1/1.json"},
                          Case{1, 1, 1, "/tfs/roads/1/1/1.json"}})
    {
        SCOPED_TRACE(c.target);
        for (int attempt = 0; attempt < 2; ++attempt)
        {
            osg::ref_ptr<osg::Node> tile = osgDB::readRefNodeFile(graph->pseudoURI(c.lod, c.x, c.y));
            ASSERT_TRUE(tile.valid());
            ASSERT_NE(tile->asGroup(), nullptr);
            EXPECT_EQ(tile->asGroup()->getNumChildren(), 0u) << "a hole has no features and no sub-tiles";
        }
        EXPECT_EQ(requestsFor(c.target), 1u) << "the second request is answered from the blacklist";
    }
}

TEST_F(FeaturePagingTest, BadNamesUnknownAndDestroyedGraphsReadAsNothing)
{
    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(modelConfig(tfsFeatures()));
    const std::string uid = std::to_string(graph->getUID());
    for (const std::string& name :
         {std::string("x.0_0_0"), uid + ".0_0", uid + ".0_0_0_0", uid + "-0_0_0", uid + ".a_0_0", uid + "._0_0",
          uid + ".0_0_", std::string("-1.0_0_0"), uid + ".1234567890_0_0", uid + ". 0_0_0", std::string()})
    {
        SCOPED_TRACE(name);
        NotifyCapture warnings(osg::WARN);
        EXPECT_FALSE(osgDB::readRefNodeFile(name + ".osgearth_pseudo_fmg").valid());
        EXPECT_TRUE(warnings.contains("[FeatureModelGraph]"));
    }
    EXPECT_FALSE(osgDB::readRefNodeFile("400000000.0_0_0.osgearth_pseudo_fmg").valid()) << "no such graph";
    EXPECT_FALSE(osgDB::readRefNodeFile("0.0_0_0.osgearth_pseudo_fmg").valid()) << "uids start at 1";

    // Tiles outside the pyramid of a live graph are empty, and the server is not asked.
    const size_t before = server.requestCount();
    for (const std::string& tile : {graph->pseudoURI(3, 0, 0), graph->pseudoURI(1, 2, 0), graph->pseudoURI(1, 0, 2),
                                    graph->pseudoURI(999999999, 0, 0)})
    {
        osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(tile);
        ASSERT_TRUE(node.valid()) << tile;
        EXPECT_EQ(node->asGroup()->getNumChildren(), 0u) << tile;
    }
    EXPECT_EQ(server.requestCount(), before);

    const std::string top = graph->pseudoURI(0, 0, 0);
    ASSERT_TRUE(osgDB::readRefNodeFile(top).valid());
    graph = nullptr;
    EXPECT_FALSE(osgDB::readRefNodeFile(top).valid()) << "a pending request outliving its graph";
}

// Five lines over a 10° square whose bounds' centres fall in known quadrants.
const char* const kQuadrantRoads = R"({"type":"FeatureCollection","features":[
 {"type":"Feature","id":1,"properties":{},"geometry":{"type":"LineString","coordinates":[[0,0],[2,2]]}},
 {"type":"Feature","id":2,"properties":{},"geometry":{"type":"LineString","coordinates":[[8,1],[9,3]]}},
 {"type":"Feature","id":3,"properties":{},"geometry":{"type":"LineString","coordinates":[[1,8],[2,9]]}},
 {"type":"Feature","id":4,"properties":{},"geometry":{"type":"LineString","coordinates":[[8,8],[10,10]]}},
 {"type":"Feature","id":5,"properties":{},"geometry":{"type":"LineString","coordinates":[[4,4],[6,6]]}}]})";

TEST_F(FeaturePagingTest, UntiledSourceUnderALayoutPutsEachFeatureInOneTileOfALevel)
{
    Config features("features");
    features.set("name", "roads");
    features.set("driver", "ogr");
    features.set("url", dir.write("quadrants.geojson", kQuadrantRoads));
    Config layout("layout");
    Config far("level");
    far.set("max_range", 2e6);
    far.set("style", "far");
    Config near("level");
    near.set("max_range", 5e5);
    near.set("class", "near");
    layout.add(near); // written out of order: levels page from the farthest
    layout.add(far);
    Config conf = modelConfig(features, layout);
    Config styles("styles");
    styles.add(Config("style", "far { stroke: #ff0000; } near { stroke: #0000ff; } roads { stroke: #00ff00; }"));
    styles.children().back().set("type", "text/css");
    conf.add(styles);

    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(conf);
    EXPECT_EQ(graph->getNumPagingLevels(), 2u);
    ASSERT_NE(topOf(graph.get()), nullptr);
    EXPECT_FLOAT_EQ(topOf(graph.get())->getMaxRange(0), 2e6f);

    osg::ref_ptr<osg::Node> top = osgDB::readRefNodeFile(graph->pseudoURI(0, 0, 0));
    const TagCollector level0 = tagsOf(top.get());
    EXPECT_EQ(level0.fids, (std::set<FeatureID>{1, 2, 3, 4, 5}));
    ASSERT_TRUE(level0.colour.valid() && !level0.colour->empty());
    EXPECT_EQ((*level0.colour)[0], osg::Vec4(1, 0, 0, 1)) << "the far level's style";
    const std::vector<osg::PagedLOD*> children = subTiles(top.get());
    ASSERT_EQ(children.size(), 4u);
    EXPECT_FLOAT_EQ(children.front()->getMaxRange(0), 5e5f) << "the near level's own range";

    const std::map<std::string, std::set<FeatureID>> expected = {{graph->pseudoURI(1, 0, 0), {1}},
                                                                 {graph->pseudoURI(1, 1, 0), {2}},
                                                                 {graph->pseudoURI(1, 0, 1), {3}},
                                                                 {graph->pseudoURI(1, 1, 1), {4, 5}}};
    for (const auto& [uri, fids] : expected)
    {
        SCOPED_TRACE(uri);
        osg::ref_ptr<osg::Node> tile = osgDB::readRefNodeFile(uri);
        const TagCollector tags = tagsOf(tile.get());
        EXPECT_EQ(tags.fids, fids);
        ASSERT_TRUE(tags.colour.valid() && !tags.colour->empty());
        EXPECT_EQ((*tags.colour)[0], osg::Vec4(0, 0, 1, 1)) << "the near level's style, chosen by its class";
        EXPECT_TRUE(subTiles(tile.get()).empty()) << "one paging level per layout level";
    }
}

TEST_F(FeaturePagingTest, PagerThreadsLoadingAtOnceGetTheSameTiles)
{
    Config features("features");
    features.set("driver", "ogr");
    features.set("url", dir.write("quadrants.geojson", kQuadrantRoads));
    Config layout("layout");
    layout.add(Config("level"));
    layout.add(Config("level"));
    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(modelConfig(features, layout));
    missingTiles = {"/tfs/roads/2/0/0.json"};
    osg::ref_ptr<FeatureModelGraph> tiled = makeGraph(modelConfig(tfsFeatures()));

    // Every thread reads every level-1 tile and the same hole; the first reads fill the shared feature cache
    // and the blacklist while others look them up.
    std::vector<std::set<FeatureID>> seen(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < seen.size(); ++t)
    {
        threads.emplace_back([&, t] {
            for (unsigned i = 0; i < 4; ++i)
            {
                osg::ref_ptr<osg::Node> tile = graph->load(1, (i + t) % 2, (i + t) / 2 % 2, "");
                for (FeatureID fid : tagsOf(tile.get()).fids)
                    seen[t].insert(fid);
                osg::ref_ptr<osg::Node> hole = tiled->load(2, 0, 0, "");
                EXPECT_EQ(hole->asGroup()->getNumChildren(), 0u);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const std::set<FeatureID>& fids : seen)
        EXPECT_EQ(fids, (std::set<FeatureID>{1, 2, 3, 4, 5}));
    EXPECT_LE(requestsFor("/tfs/roads/2/0/0.json"), seen.size())
        << "threads that found no blacklist entry yet may ask once each, no more";
}

TEST(FeatureDisplayLayoutTest, LevelsAndPagerKeysRoundTrip)
{
    Config conf("layout");
    conf.set("tile_size_factor", 7.5);
    conf.set("priority_offset", 2);
    conf.set("priority_scale", 0.5);
    conf.set("min_expiry_time", 30);
    Config first("level");
    first.set("name", "far");
    first.set("class", "thin");
    first.set("max_range", 80000);
    Config second("level");
    second.set("style", "thick");
    second.set("class", "ignored");
    second.set("min_range", 10);
    second.set("max_range", 20000);
    conf.add(first);
    conf.add(second);

    FeatureDisplayLayout layout(conf);
    layout.addLevel(FeatureLevel(0.0f, 5000.0f, "detail"));
    ASSERT_EQ(layout.getNumLevels(), 3u);
    EXPECT_EQ(layout.getLevel(3), nullptr);

    // Once as read, once after going through the options that carry it (under its old name "paging").
    Config model("model");
    model.add("paging", layout.getConfig());
    const FeatureModelSourceOptions options{ConfigOptions(model)};
    ASSERT_TRUE(options.layout().isSet());
    for (const FeatureDisplayLayout& back : {FeatureDisplayLayout(layout.getConfig()), options.layout().get()})
    {
        EXPECT_FLOAT_EQ(back.tileSizeFactor().get(), 7.5f);
        EXPECT_FLOAT_EQ(back.priorityOffset().get(), 2.0f);
        EXPECT_FLOAT_EQ(back.priorityScale().get(), 0.5f);
        EXPECT_FLOAT_EQ(back.minExpiryTime().get(), 30.0f);
        ASSERT_EQ(back.getNumLevels(), 3u);
        EXPECT_EQ(back.getLevel(0)->name().get(), "far");
        EXPECT_EQ(back.getLevel(0)->styleName().get(), "thin");
        EXPECT_FLOAT_EQ(back.getLevel(0)->maxRange().get(), 80000.0f);
        EXPECT_FALSE(back.getLevel(0)->minRange().isSet());
        EXPECT_EQ(back.getLevel(1)->styleName().get(), "thick") << "style wins over class";
        EXPECT_FLOAT_EQ(back.getLevel(1)->minRange().get(), 10.0f);
        EXPECT_EQ(back.getLevel(2)->styleName().get(), "detail");
        EXPECT_FLOAT_EQ(back.getLevel(2)->maxRange().get(), 5000.0f);
    }
    const Config written = layout.getConfig();
    EXPECT_EQ(written.children("level").size(), 3u) << "levels are written once, not kept and added";
    EXPECT_FALSE(written.children("level").front().hasValue("class")) << "written under its newer name";

    const FeatureDisplayLayout defaults;
    EXPECT_EQ(defaults.getNumLevels(), 0u);
    EXPECT_FLOAT_EQ(defaults.priorityScale().get(), 1.0f);
    EXPECT_FALSE(defaults.getConfig().hasChild("priority_scale"));
}

TEST_F(FeaturePagingTest, EarthFileTfsModelWithALayoutPages)
{
    const std::string earth = dir.write("roads.earth", R"(<map version="2">
    <model name="roads" driver="feature_geom">
        <features name="roads" driver="tfs"><url>)" + server.url("/tfs/roads/metadata.xml") +
                                                           R"(</url><format>json</format></features>
        <feature_indexing enabled="true"/>
        <layout tile_size_factor="15"><level max_range="50000" style="roads"/></layout>
        <styles><style type="text/css"> roads { stroke: #ffff00; stroke-width: 2px; } </style></styles>
    </model>
</map>)");
    const featuretest::EarthLayer roads = featuretest::readEarthLayer(earth, "roads");
    auto* graph = roads.child<FeatureModelGraph>();
    ASSERT_NE(graph, nullptr);
    osg::PagedLOD* top = topOf(graph);
    ASSERT_NE(top, nullptr);
    EXPECT_FLOAT_EQ(top->getMaxRange(0), 50000.0f) << "the level's range";

    // Down the pyramid through the pager's own entry point: level 0 only subdivides, level 1 has features.
    osg::ref_ptr<osg::Node> root = osgDB::readRefNodeFile(top->getFileName(0));
    const std::vector<osg::PagedLOD*> children = subTiles(root.get());
    ASSERT_EQ(children.size(), 4u);
    osg::ref_ptr<osg::Node> tile = osgDB::readRefNodeFile(children.front()->getFileName(0));
    const TagCollector tags = tagsOf(tile.get());
    ASSERT_EQ(tags.fids.size(), 1u);
    EXPECT_GE(*tags.fids.begin(), 1000u);
    EXPECT_LT(*tags.fids.begin(), 2000u);
    ASSERT_TRUE(tags.colour.valid() && !tags.colour->empty());
    EXPECT_EQ((*tags.colour)[0], osg::Vec4(1, 1, 0, 1));
    EXPECT_EQ(subTiles(tile.get()).size(), 4u);
}

// Drawn in a window: the viewer's own database pager pages the tiles in.
class FeaturePagingRender : public FeaturePagingTest
{};

TEST_F(FeaturePagingRender, PagerLoadsTilesAndTheirFeaturesDraw)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;
    veltra::test::ViewerHarness harness(64, 64);
    if (!harness.valid())
        GTEST_SKIP() << harness.why();

    Config conf = modelConfig(tfsFeatures());
    Config styles("styles");
    styles.add(Config("style", "roads { stroke: #ffff00; stroke-width: 6px; }"));
    styles.children().back().set("type", "text/css");
    conf.add(styles);
    osg::ref_ptr<FeatureModelGraph> graph = makeGraph(conf);
    harness.setScene(graph.get());

    // 1500 km above the middle of the square: within the ranges of all three levels.
    const SpatialReference* wgs84 = SpatialReference::create("wgs84");
    osg::Vec3d eye, centre, road;
    wgs84->transformToWorld(osg::Vec3d(15, 45, 1.5e6), eye);
    wgs84->transformToWorld(osg::Vec3d(15, 45, 0), centre);
    wgs84->transformToWorld(osg::Vec3d(11.5, 41.5, 0), road);
    harness.lookAt(eye, centre, osg::Vec3d(0, 0, 1));
    harness.viewer().getCamera()->setProjectionMatrixAsPerspective(30.0, 1.0, 1e4, 1e8);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::set<FeatureID> paged;
    while (std::chrono::steady_clock::now() < deadline)
    {
        harness.frame();
        TagCollector all(true);
        graph->accept(all);
        paged = all.fids;
        if (paged.count(1000) && paged.count(2000))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(paged.count(1000)) << "level 1 paged in";
    EXPECT_TRUE(paged.count(2000)) << "level 2 paged in below it";
    ASSERT_GT(requestsFor("/tfs/roads/1/0/0.json"), 0u);

    osg::ref_ptr<osg::Image> image = harness.capture();
    ASSERT_TRUE(image.valid());
    const osg::Vec2d at = harness.windowPosition(road);
    bool yellow = false;
    for (int dx = -3; dx <= 3 && !yellow; ++dx)
    {
        for (int dy = -3; dy <= 3 && !yellow; ++dy)
        {
            const int x = int(at.x()) + dx, y = harness.height() - 1 - int(at.y()) + dy;
            if (x >= 0 && y >= 0 && x < image->s() && y < image->t())
                yellow = veltra::test::colourNear(veltra::test::pixelAt(*image, x, y), {255, 255, 0, 255}, 60);
        }
    }
    EXPECT_TRUE(yellow) << "the paged road is drawn near " << at.x() << ", " << at.y();
}
