#include "FeatureTestSupport.h"
#include "GeoRasters.h"
#include "NotifyCapture.h"
#include "TempDir.h"

#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/ModelLayer>
#include <osgEarth/TileKey>
#include <osgEarthFeatures/Feature>
#include <osgEarthFeatures/FeatureModelSource>
#include <osgEarthFeatures/Session>
#include <osgEarthSymbology/Style>
#include <src/terrain/ElevationQuery.h>

#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace osgEarth;
using namespace osgEarth::Features;
using namespace osgEarth::Terrain;
using veltra::test::NotifyCapture;
using veltra::test::TempDir;

namespace {

// The sloped test raster covers 5..7 E, 49..51 N in cells of 0.01°; its heights lie on this plane, which bilinear
// sampling reproduces exactly anywhere at least half a cell inside.
double plane(double lon, double lat)
{
    return 100.0 + 50.0 * (lon - 5.0) + 20.0 * (lat - 49.0);
}

constexpr double kWest = 5.0, kNorth = 51.0, kCell = 0.01;
constexpr int kCells = 200;

bool writePlaneDem(const std::string& path)
{
    std::vector<float> cells(size_t(kCells) * kCells);
    for (int r = 0; r < kCells; ++r)
        for (int c = 0; c < kCells; ++c)
            cells[size_t(r) * kCells + c] = float(plane(kWest + (c + 0.5) * kCell, kNorth - (r + 0.5) * kCell));
    return veltra::test::writeDemTiff(path, kWest, kNorth, kCell, kCells, kCells, cells);
}

// 300 m over the same area as the plane, except its western half, which holds no data.
bool writePatchWithHole(const std::string& path)
{
    std::vector<float> cells(size_t(kCells) * kCells, 300.0f);
    for (int r = 0; r < kCells; ++r)
        for (int c = 0; c < kCells / 2; ++c)
            cells[size_t(r) * kCells + c] = -9999.0f;
    return veltra::test::writeDemTiff(path, kWest, kNorth, kCell, kCells, kCells, cells, -9999.0);
}

struct LayerSpec
{
    std::string file;
    bool offset = false;
    bool enabled = true;
    unsigned maxLevel = 23;
};

ElevationLayerOptions elevationLayer(const std::string& path, const LayerSpec& spec)
{
    Config conf("elevation");
    conf.add("name", spec.file);
    conf.add("driver", "gdal");
    conf.add("url", path);
    conf.add("offset", spec.offset ? "true" : "false");
    conf.add("enabled", spec.enabled ? "true" : "false");
    conf.add("max_level", std::to_string(spec.maxLevel));
    return ElevationLayerOptions(ConfigOptions(conf));
}

osg::ref_ptr<Map> mapWith(const TempDir& dir, const std::vector<LayerSpec>& layers,
                          const Config& terrain = Config("terrain"))
{
    Config options("options");
    options.add(terrain);
    osg::ref_ptr<Map> map = new Map(MapOptions(ConfigOptions(options)));
    for (const LayerSpec& spec : layers)
        map->addElevationLayer(elevationLayer(dir.file(spec.file), spec));
    return map;
}

// Every vertex under `node`, in world coordinates.
struct WorldVertices : public osg::NodeVisitor
{
    WorldVertices() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Geometry& geometry) override
    {
        const osg::Matrixd toWorld = osg::computeLocalToWorld(getNodePath());
        if (auto* vertices = dynamic_cast<const osg::Vec3Array*>(geometry.getVertexArray()))
            for (const osg::Vec3f& v : *vertices)
                points.push_back(osg::Vec3d(v) * toWorld);
    }
    std::vector<osg::Vec3d> points;
};

std::vector<osg::Vec3d> worldVertices(osg::Node* node)
{
    WorldVertices visitor;
    if (node)
        node->accept(visitor);
    return visitor.points;
}

// Longitude, latitude and height above the ellipsoid of a world point.
osg::Vec3d geodetic(const SpatialReference* srs, const osg::Vec3d& world)
{
    osg::Vec3d lonLat;
    double hae = std::nan("");
    srs->transformFromWorld(world, lonLat, &hae);
    return osg::Vec3d(lonLat.x(), lonLat.y(), hae);
}

class ElevationQueryFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(writePlaneDem(dir.file("plane.tif")));
        ASSERT_TRUE(veltra::test::writeFlatDemTiff(dir.file("base.tif"), 1000.0f));
        ASSERT_TRUE(veltra::test::writeFlatDemTiff(dir.file("lift.tif"), 250.0f));
        ASSERT_TRUE(writePatchWithHole(dir.file("patch.tif")));
    }

    TempDir dir;
};

} // namespace

TEST_F(ElevationQueryFixture, SlopedDemGivesItsHeightsInsideAndZeroOutside)
{
    osg::ref_ptr<Map> map = mapWith(dir, {{"plane.tif"}});
    osg::ref_ptr<ElevationQuery> query = ElevationQuery::create(*map);
    ASSERT_TRUE(query.valid());

    struct Case
    {
        double lon, lat, expected;
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {6.0, 50.0, plane(6.0, 50.0)},
        {5.123456, 49.987654, plane(5.123456, 49.987654)},
        {6.9, 49.1, plane(6.9, 49.1)},
        {5.5 + 360.0, 50.5, plane(5.5, 50.5)}, // longitudes wrap
        {5.5 - 720.0, 50.5, plane(5.5, 50.5)},
        {20.0, 10.0, 0.0}, // off the raster
        {4.9, 50.0, 0.0},  // just west of it
        {6.0, 95.0, 0.0},  // off the profile
        {nan, 50.0, 0.0},
        {6.0, INFINITY, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(query->heightAt(c.lon, c.lat), c.expected, 1e-3) << c.lon << ", " << c.lat;

    // Bilinear between posts follows the plane; nearest posts would step by up to half a post's rise.
    const double postDegrees = 180.0 / double(1u << query->level()) / (query->postsPerSide() - 1);
    for (double f = 0.0; f < 1.0; f += 0.125)
    {
        const double lon = 6.0 + f * postDegrees;
        EXPECT_NEAR(query->heightAt(lon, 50.0), plane(lon, 50.0), 1e-3) << f;
    }
}

TEST_F(ElevationQueryFixture, LevelMeetsThePostSpacingUnlessTheLayersOrTerrainStopSooner)
{
    struct Case
    {
        unsigned layerMaxLevel;
        const char* terrainMaxLod;
        unsigned expected;
    };
    // Global-geodetic level 13 has 180° / 2^13 / 64 ≈ 38 m between posts, level 12 about 76 m.
    const Case cases[] = {{23, nullptr, 13}, {8, nullptr, 8}, {23, "10", 10}, {23, "40", 13}, {0, nullptr, 0}};
    for (const Case& c : cases)
    {
        Config terrain("terrain");
        if (c.terrainMaxLod)
            terrain.add("max_lod", c.terrainMaxLod);
        LayerSpec spec{"plane.tif"};
        spec.maxLevel = c.layerMaxLevel;
        osg::ref_ptr<ElevationQuery> query = ElevationQuery::create(*mapWith(dir, {spec}, terrain));
        ASSERT_TRUE(query.valid());
        EXPECT_EQ(query->level(), c.expected) << c.layerMaxLevel << " / " << (c.terrainMaxLod ? c.terrainMaxLod : "-");
        // The layer that limited the level still shows there (level 0 posts lie further apart than the raster).
        if (c.expected > 0)
        {
            EXPECT_NEAR(query->heightAt(6.0, 50.0), plane(6.0, 50.0), 1e-3);
        }
    }
}

TEST_F(ElevationQueryFixture, LayersCombineAsTheTerrainCombinesThem)
{
    struct Case
    {
        const char* name;
        std::vector<LayerSpec> layers;
        double verticalScale;
        double inPatch; // 6.5 E, 50 N: where the patch has data
        double inHole;  // 5.5 E, 50 N: the patch's no-data half
        double outside; // 20 E, 10 N: only the whole-world layers
    };
    LayerSpec lift{"lift.tif", true};
    LayerSpec disabledPatch{"patch.tif", false, false};
    LayerSpec coarsePatch{"patch.tif"};
    coarsePatch.maxLevel = 5; // shows on coarse tiles only, not at the level sampled
    const Case cases[] = {
        {"one layer", {{"base.tif"}}, 1.0, 1000, 1000, 1000},
        {"a later layer replaces where it has data", {{"base.tif"}, {"patch.tif"}}, 1.0, 300, 1000, 1000},
        {"a later whole layer replaces all", {{"patch.tif"}, {"base.tif"}}, 1.0, 1000, 1000, 1000},
        {"an offset layer adds", {{"base.tif"}, lift}, 1.0, 1250, 1250, 1250},
        {"an offset layer adds to nothing", {lift}, 1.0, 250, 250, 250},
        {"an offset layer adds to a patch", {{"patch.tif"}, lift}, 1.0, 550, 250, 250},
        {"a disabled layer is left out", {{"base.tif"}, disabledPatch}, 1.0, 1000, 1000, 1000},
        {"a layer outside its levels is left out", {{"base.tif"}, coarsePatch}, 1.0, 1000, 1000, 1000},
        {"the terrain's vertical scale applies", {{"base.tif"}, lift}, 2.0, 2500, 2500, 2500},
    };
    for (const Case& c : cases)
    {
        Config terrain("terrain");
        if (c.verticalScale != 1.0)
            terrain.add("vertical_scale", std::to_string(c.verticalScale));
        osg::ref_ptr<ElevationQuery> query = ElevationQuery::create(*mapWith(dir, c.layers, terrain));
        ASSERT_TRUE(query.valid()) << c.name;
        EXPECT_NEAR(query->heightAt(6.5, 50.0), c.inPatch, 1e-3) << c.name;
        EXPECT_NEAR(query->heightAt(5.5, 50.0), c.inHole, 1e-3) << c.name;
        EXPECT_NEAR(query->heightAt(20.0, 10.0), c.outside, 1e-3) << c.name;
    }
}

namespace {

struct NamedNodeFinder : public osg::NodeVisitor
{
    explicit NamedNodeFinder(const std::string& wanted) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), name(wanted) {}
    void apply(osg::Node& node) override
    {
        if (!found && node.getName() == name)
            found = &node;
        traverse(node);
    }
    std::string name;
    osg::Node* found = nullptr;
};

} // namespace

TEST_F(ElevationQueryFixture, HeightsMatchTheTerrainTilesPostForPost)
{
    // A whole world of 10° cells rising east and south, a 1° regional layer whose western third holds no data, and a
    // whole-world offset on top, scaled: every rule of the combination shows in some post.
    std::vector<float> world(36 * 18);
    for (int r = 0; r < 18; ++r)
        for (int c = 0; c < 36; ++c)
            world[size_t(r) * 36 + c] = float(100 + 37 * c + 211 * r);
    ASSERT_TRUE(veltra::test::writeDemTiff(dir.file("world.tif"), -180, 90, 10, 36, 18, world));
    std::vector<float> region(45 * 30);
    for (int r = 0; r < 30; ++r)
        for (int c = 0; c < 45; ++c)
            region[size_t(r) * 45 + c] = c < 15 ? -9999.0f : float(500 + 7 * c + 3 * r);
    ASSERT_TRUE(veltra::test::writeDemTiff(dir.file("region.tif"), 0, 60, 1, 45, 30, region, -9999.0));

    Config terrain("terrain");
    terrain.add("vertical_scale", "1.5");
    terrain.add("tile_size", "17");
    terrain.add("first_lod", "2");
    osg::ref_ptr<Map> map = mapWith(dir, {{"world.tif"}, {"region.tif"}, {"lift.tif", true}}, terrain);
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());

    const TileKey key(2, 4, 1, map->getProfile()); // 0..45 E, 0..45 N
    NamedNodeFinder finder(key.str());
    mapNode->getTerrainEngine()->accept(finder);
    ASSERT_NE(finder.found, nullptr);
    const std::vector<osg::Vec3d> vertices = worldVertices(finder.found);

    const unsigned posts = 17;
    const std::vector<float> expected = combinedHeights(openElevationLayers(*map), key, posts, 1.5);
    ASSERT_EQ(expected.size(), size_t(posts) * posts);
    const GeoExtent extent = key.getExtent();
    std::vector<osg::Vec3d> drawn;
    for (const osg::Vec3d& v : vertices)
        drawn.push_back(geodetic(map->getSRS(), v));
    unsigned matched = 0;
    for (unsigned r = 0; r < posts; ++r)
        for (unsigned c = 0; c < posts; ++c)
        {
            const double lon = extent.west() + c * extent.width() / (posts - 1);
            const double lat = extent.north() - r * extent.height() / (posts - 1);
            const double height = expected[size_t(r) * posts + c];
            bool found = false;
            // Tile vertices are floats about a centre thousands of kilometres away: good to some 0.3 m.
            for (const osg::Vec3d& g : drawn)
                found = found || (std::fabs(g.x() - lon) < 1e-4 && std::fabs(g.y() - lat) < 1e-4 &&
                                  std::fabs(g.z() - height) < 1.0);
            EXPECT_TRUE(found) << "post " << r << "/" << c << " expected at " << height;
            matched += found ? 1 : 0;
        }
    EXPECT_EQ(matched, posts * posts);
}

TEST_F(ElevationQueryFixture, NoUsableElevationLayerMeansNoQuery)
{
    osg::ref_ptr<Map> bare = mapWith(dir, {});
    EXPECT_FALSE(ElevationQuery::create(*bare).valid());
    osg::ref_ptr<Session> bareSession = new Session(bare.get());
    EXPECT_FALSE(bareSession->getElevationFunction()) << "no layers: the compiler keeps height 0 without asking";
    EXPECT_EQ(bareSession->getElevationQuery(), nullptr);

    osg::ref_ptr<Session> mapless = new Session(nullptr);
    EXPECT_FALSE(mapless->getElevationFunction());

    LayerSpec disabled{"plane.tif", false, false};
    EXPECT_FALSE(ElevationQuery::create(*mapWith(dir, {disabled})).valid());

    // A layer whose data is missing: one warning, and heights 0 rather than a failure.
    NotifyCapture warnings(osg::WARN);
    osg::ref_ptr<Map> missing = mapWith(dir, {{"absent.tif"}});
    EXPECT_FALSE(ElevationQuery::create(*missing).valid());
    EXPECT_TRUE(warnings.contains("absent.tif"));
    osg::ref_ptr<Session> session = new Session(missing.get());
    const auto elevation = session->getElevationFunction();
    ASSERT_TRUE(elevation);
    EXPECT_EQ(elevation(6.0, 50.0), 0.0);
    EXPECT_EQ(session->getElevationQuery(), nullptr);
}

namespace {

// Heights on a checkerboard of posts: 100 m where the global post column plus row is odd, else 0. Bilinear
// interpolation between such posts has values no other scheme gives. Counts its reads.
class CheckerboardSource : public ElevationSource
{
public:
    bool sampleHeights(const TileKey& key, unsigned posts, std::vector<float>& heights,
                       std::vector<bool>& valid) override
    {
        ++reads;
        heights.assign(size_t(posts) * posts, 0.0f);
        valid.assign(heights.size(), true);
        for (unsigned r = 0; r < posts; ++r)
            for (unsigned c = 0; c < posts; ++c)
            {
                const unsigned gx = key.getTileX() * (posts - 1) + c, gy = key.getTileY() * (posts - 1) + r;
                heights[size_t(r) * posts + c] = (gx + gy) % 2 ? 100.0f : 0.0f;
            }
        return true;
    }
    std::atomic<int> reads{0};
};

constexpr unsigned kBoardLevel = 3, kBoardPosts = 5;

osg::Vec2d postToLonLat(double gx, double gy)
{
    const double postDegrees = 180.0 / (1u << kBoardLevel) / (kBoardPosts - 1);
    return osg::Vec2d(-180.0 + gx * postDegrees, 90.0 - gy * postDegrees);
}

} // namespace

TEST(ElevationQuery, PostsKeepTheirHeightsAndCellsInterpolateBilinearly)
{
    osg::ref_ptr<const Profile> profile = Profile::create("global-geodetic");
    osg::ref_ptr<CheckerboardSource> source = new CheckerboardSource();
    osg::ref_ptr<ElevationQuery> query =
        new ElevationQuery(profile.get(), {{source, 0, 23, false}}, kBoardLevel, 1.0, kBoardPosts);

    struct Case
    {
        double gx, gy, expected; // global post coordinates, counted from the north-west
    };
    const Case cases[] = {
        {0, 0, 0},        {1, 0, 100},        {5, 2, 100},        {4, 4, 0},    // posts, tile corners included
        {0.5, 0.5, 50},   {0.25, 0.25, 37.5}, {1.25, 0.25, 62.5}, {2.5, 1, 50}, // inside cells and along edges
        {3.5, 0, 50},     {4.25, 0, 25},      {3.75, 3.75, 37.5},               // either side of a tile edge
        {63.5, 31.5, 50}, {64, 32, 0},                                          // the far south-east corner
    };
    for (const Case& c : cases)
    {
        const osg::Vec2d p = postToLonLat(c.gx, c.gy);
        EXPECT_NEAR(query->heightAt(p.x(), p.y()), c.expected, 1e-6) << c.gx << ", " << c.gy;
    }
}

TEST(ElevationQuery, TilesAreReadOnceAndTheCacheStaysBounded)
{
    osg::ref_ptr<const Profile> profile = Profile::create("global-geodetic");
    osg::ref_ptr<CheckerboardSource> source = new CheckerboardSource();
    osg::ref_ptr<ElevationQuery> query =
        new ElevationQuery(profile.get(), {{source, 0, 23, false}}, kBoardLevel, 1.0, kBoardPosts, 4);

    // Many points in one tile: one read.
    for (int i = 0; i < 10000; ++i)
    {
        const osg::Vec2d p = postToLonLat(0.1 + 3.8 * (i % 100) / 100.0, 0.1 + 3.8 * (i / 100) / 100.0);
        query->heightAt(p.x(), p.y());
    }
    EXPECT_EQ(source->reads.load(), 1);

    // Tiles 0..4 along the top row: the fifth pushes tile 0 out, so it is read again; tile 4, recent, is not.
    for (unsigned tile = 0; tile < 5; ++tile)
    {
        const osg::Vec2d p = postToLonLat(tile * (kBoardPosts - 1) + 1.5, 1.5);
        query->heightAt(p.x(), p.y());
    }
    EXPECT_EQ(source->reads.load(), 5);
    const osg::Vec2d first = postToLonLat(1.5, 1.5), last = postToLonLat(4 * (kBoardPosts - 1) + 1.5, 1.5);
    query->heightAt(last.x(), last.y());
    EXPECT_EQ(source->reads.load(), 5);
    query->heightAt(first.x(), first.y());
    EXPECT_EQ(source->reads.load(), 6);
    EXPECT_EQ(query->tilesSampled(), 6u);
}

// Several threads at once, as the pager's threads compile tiles.
class ElevationQueryThreads : public ElevationQueryFixture
{
protected:
    // Runs `height` over the same points from several threads, each starting elsewhere, and checks every result.
    void expectAgreement(const std::function<double(double, double)>& height)
    {
        std::vector<osg::Vec2d> points;
        for (int i = 0; i < 400; ++i)
            points.emplace_back(5.1 + 1.8 * ((i * 37) % 400) / 400.0, 49.1 + 1.8 * ((i * 91) % 400) / 400.0);

        constexpr int threads = 6;
        std::vector<std::vector<double>> results(threads, std::vector<double>(points.size()));
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (size_t k = 0; k < points.size(); ++k)
                {
                    const size_t i = (k + size_t(t) * 67) % points.size();
                    results[size_t(t)][i] = height(points[i].x(), points[i].y());
                }
            });
        for (std::thread& worker : workers)
            worker.join();

        for (int t = 0; t < threads; ++t)
            for (size_t i = 0; i < points.size(); ++i)
                ASSERT_NEAR(results[size_t(t)][i], plane(points[i].x(), points[i].y()), 1e-3) << t << ": " << i;
    }
};

TEST_F(ElevationQueryThreads, ConcurrentQueriesAgree)
{
    osg::ref_ptr<Map> map = mapWith(dir, {{"plane.tif"}});
    const std::vector<ElevationLayerSource> layers = openElevationLayers(*map);
    ASSERT_EQ(layers.size(), 1u);
    // A small cache, so threads also evict and re-read tiles under each other.
    osg::ref_ptr<ElevationQuery> query = new ElevationQuery(map->getProfile(), layers, 11, 1.0, 33, 6);
    expectAgreement([&query](double x, double y) { return query->heightAt(x, y); });
    EXPECT_GE(query->tilesSampled(), 50u) << "the points span more tiles than the cache holds";
}

TEST_F(ElevationQueryThreads, SessionOpensItsLayersOnceUnderConcurrentFirstUse)
{
    osg::ref_ptr<Map> map = mapWith(dir, {{"plane.tif"}});
    osg::ref_ptr<Session> session = new Session(map.get());
    const auto elevation = session->getElevationFunction();
    ASSERT_TRUE(elevation);
    expectAgreement(elevation);
    EXPECT_EQ(session->getElevationQuery(), session->getElevationQuery());
}

namespace {

Symbology::Style clampStyle(const std::string& clamping)
{
    Config conf("clamped");
    conf.add("stroke", "#ffff00");
    conf.add("fill", "#00ff00");
    conf.add("altitude-clamping", clamping);
    Symbology::Style style;
    style.fromSLD(conf);
    return style;
}

FeatureList clampFeatures(double z)
{
    osg::ref_ptr<Symbology::LineString> line = new Symbology::LineString();
    line->push_back(osg::Vec3d(5.2, 49.3, z));
    line->push_back(osg::Vec3d(6.8, 50.7, z));
    osg::ref_ptr<Symbology::Polygon> area = new Symbology::Polygon();
    for (const auto& [lon, lat] : {std::pair{5.6, 49.6}, {6.4, 49.6}, {6.4, 50.4}, {5.6, 50.4}})
        area->push_back(osg::Vec3d(lon, lat, z));
    FeatureList features;
    for (Symbology::Geometry* geometry :
         {static_cast<Symbology::Geometry*>(line.get()), static_cast<Symbology::Geometry*>(area.get())})
    {
        osg::ref_ptr<Feature> feature = new Feature(features.size() + 1);
        feature->setGeometry(geometry);
        features.push_back(feature);
    }
    return features;
}

} // namespace

TEST_F(ElevationQueryFixture, CompiledFeaturesSitOnTheTerrain)
{
    osg::ref_ptr<Map> map = mapWith(dir, {{"plane.tif"}});
    osg::ref_ptr<Session> session = new Session(map.get());
    osg::ref_ptr<GeomFeatureNodeFactory> factory = new GeomFeatureNodeFactory();
    const SpatialReference* srs = map->getSRS();

    struct Case
    {
        const char* clamping;
        double z;
        bool onTerrain; // heights follow the terrain (plus z when relative)
        double above;
    };
    const Case cases[] = {
        {"terrain", 500.0, true, 0.0},
        {"relative", 10.0, true, 10.0},
        {"none", 7.0, false, 7.0},
        {"absolute", 7.0, false, 7.0},
    };
    for (const Case& c : cases)
    {
        osg::ref_ptr<osg::Node> node = factory->createNode(clampFeatures(c.z), clampStyle(c.clamping), *session, false);
        const std::vector<osg::Vec3d> vertices = worldVertices(node.get());
        ASSERT_GE(vertices.size(), 6u) << c.clamping;
        for (const osg::Vec3d& world : vertices)
        {
            const osg::Vec3d g = geodetic(srs, world);
            const double expected = (c.onTerrain ? plane(g.x(), g.y()) : 0.0) + c.above;
            ASSERT_NEAR(g.z(), expected, 0.05) << c.clamping << " at " << g.x() << ", " << g.y();
        }
    }
    // The terrain was read a tile at a time, not once per vertex.
    ASSERT_NE(session->getElevationQuery(), nullptr);
    EXPECT_LT(session->getElevationQuery()->tilesSampled(), 200u);
}

TEST_F(ElevationQueryFixture, EarthFileFeatureLayerDrapesItsLinesOnTheDem)
{
    dir.write("road.geojson", R"({"type":"FeatureCollection","features":[
 {"type":"Feature","id":1,"properties":{},"geometry":{"type":"LineString","coordinates":[[5.3,49.4],[6.1,50.2],[6.7,50.3]]}}]})");
    const std::string earth = dir.write("clamped.earth", R"(<map version="2">
    <elevation name="dem" driver="gdal"><url>plane.tif</url></elevation>
    <model name="roads" driver="feature_geom">
        <features name="roads" driver="ogr"><url>road.geojson</url></features>
        <styles><style type="text/css"> roads { stroke: #ffff00; altitude-clamping: terrain; } </style></styles>
    </model>
</map>)");
    const featuretest::EarthLayer roads = featuretest::readEarthLayer(earth, "roads");
    ASSERT_NE(roads.group, nullptr);
    const std::vector<osg::Vec3d> vertices = worldVertices(roads.group);
    ASSERT_GE(vertices.size(), 3u);
    for (const osg::Vec3d& world : vertices)
    {
        const osg::Vec3d g = geodetic(roads.mapNode->getMapSRS(), world);
        ASSERT_NEAR(g.z(), plane(g.x(), g.y()), 0.05) << g.x() << ", " << g.y();
    }
}

TEST(ElevationQuery, LuxembourgDemGivesPlausibleHeights)
{
    const std::string path = (featuretest::sampleGeoData() / "elev_luxembourg.tif").string();
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "sample DEM not present";
    Config conf("elevation");
    conf.add("name", "luxembourg");
    conf.add("driver", "gdal");
    conf.add("url", path);
    osg::ref_ptr<Map> map = new Map();
    map->addElevationLayer(ElevationLayerOptions(ConfigOptions(conf)));
    osg::ref_ptr<ElevationQuery> query = ElevationQuery::create(*map);
    ASSERT_TRUE(query.valid());

    // The city's plateau stands well above the Moselle valley and below the Ösling hills of the north.
    const double city = query->heightAt(6.13, 49.61);
    EXPECT_GT(city, 250.0);
    EXPECT_LT(city, 350.0);
    EXPECT_LT(query->heightAt(6.35, 49.55), city - 50.0);
    EXPECT_GT(query->heightAt(6.0, 50.1), city + 50.0);
    EXPECT_EQ(query->heightAt(7.0, 49.8), 0.0) << "east of the raster";
    EXPECT_EQ(query->heightAt(5.8, 50.15), 0.0) << "on the raster, beyond the border, where it holds no data";
}
