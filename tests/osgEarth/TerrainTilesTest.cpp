#include "TerrainTestSupport.h"

#include "NotifyCapture.h"

#include <osgEarth/TerrainEngineNode>
#include <osgEarth/TileKey>

#include <osg/MatrixTransform>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <cfloat>

using namespace osgEarth;
using namespace terraintest;

namespace {

osg::PagedLOD* rootOf(MapNode& mapNode)
{
    TerrainEngineNode* engine = mapNode.getTerrainEngine();
    return engine && engine->getNumChildren() == 1 ? dynamic_cast<osg::PagedLOD*>(engine->getChild(0)) : nullptr;
}

double expectedMinRange(const TileKey& key, double factor)
{
    const GeoExtent e = key.getExtent();
    osg::Vec3d sw, ne;
    e.getSRS()->transformToWorld(osg::Vec3d(e.west(), e.south(), 0), sw);
    e.getSRS()->transformToWorld(osg::Vec3d(e.east(), e.north(), 0), ne);
    return 0.5 * (ne - sw).length() * factor;
}

std::string pagedName(const std::string& key, unsigned uid)
{
    return key + "." + std::to_string(uid) + ".osgearth_engine_mp_tile";
}

} // namespace

TEST(TerrainTiles, RootHoldsTheEightLevelOneTilesWithSwitchInRanges)
{
    osg::ref_ptr<MapNode> mapNode = new MapNode(makeMap());
    osg::PagedLOD* root = rootOf(*mapNode);
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->getName().empty());
    ASSERT_EQ(root->getNumChildren(), 2u); // global-geodetic has two level-0 tiles
    const unsigned uid = mapNode->getTerrainEngine()->getEngineUID();
    ASSERT_NE(uid, 0u);

    std::vector<std::string> names;
    for (unsigned i = 0; i < 2; ++i)
    {
        EXPECT_EQ(root->getMinRange(i), 0.0f);
        EXPECT_EQ(root->getMaxRange(i), FLT_MAX);
        osg::Group* group = root->getChild(i)->asGroup();
        ASSERT_NE(group, nullptr);
        ASSERT_EQ(group->getNumChildren(), 4u);
        for (unsigned q = 0; q < 4; ++q)
        {
            auto* paged = dynamic_cast<osg::PagedLOD*>(group->getChild(q));
            ASSERT_NE(paged, nullptr);
            EXPECT_TRUE(paged->getName().empty());
            auto* tile = dynamic_cast<osg::MatrixTransform*>(paged->getChild(0));
            ASSERT_NE(tile, nullptr);
            names.push_back(tile->getName());
            const TileKey key = TileKey(0, i, 0, mapNode->getMap()->getProfile()).createChildKey(q);
            EXPECT_EQ(tile->getName(), key.str());
            EXPECT_NEAR(paged->getMinRange(0), expectedMinRange(key, 6.0), 1.0);
            EXPECT_EQ(paged->getMaxRange(0), FLT_MAX);
            EXPECT_EQ(paged->getMinRange(1), 0.0f);
            EXPECT_EQ(paged->getMaxRange(1), paged->getMinRange(0));
            EXPECT_EQ(paged->getFileName(1), pagedName(key.str(), uid));
            // The tile sits on the ellipsoid, its local origin near the surface rather than at the earth's centre.
            EXPECT_NEAR(tile->getMatrix().getTrans().length(), 6.37e6, 3e4);
            EXPECT_NEAR((paged->getCenter() - tile->getBound().center()).length(), 0.0, 1e-3);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"1/0/0", "1/1/0", "1/0/1", "1/1/1", "1/2/0", "1/3/0", "1/2/1",
                                               "1/3/1"}));
}

TEST(TerrainTiles, RangeFactorAndMaxLodComeFromTheTerrainOptions)
{
    Config terrain("terrain");
    terrain.add("min_tile_range_factor", "3");
    terrain.add("max_lod", "2");
    osg::ref_ptr<MapNode> mapNode = new MapNode(makeMap(terrain));
    const unsigned uid = mapNode->getTerrainEngine()->getEngineUID();
    osg::PagedLOD* root = rootOf(*mapNode);
    ASSERT_NE(root, nullptr);
    auto* paged = dynamic_cast<osg::PagedLOD*>(root->getChild(0)->asGroup()->getChild(0));
    ASSERT_NE(paged, nullptr);
    EXPECT_NEAR(paged->getMinRange(0), expectedMinRange(TileKey(1, 0, 0, mapNode->getMap()->getProfile()), 3.0), 1.0);

    // Level 2 is the last: its tiles come bare, and nothing below it can be requested.
    osg::ref_ptr<osg::Node> children = osgDB::readRefNodeFile(pagedName("1/0/0", uid));
    ASSERT_TRUE(children.valid());
    ASSERT_EQ(children->asGroup()->getNumChildren(), 4u);
    auto* leaf = dynamic_cast<osg::MatrixTransform*>(children->asGroup()->getChild(0));
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->getName(), "2/0/0");
    EXPECT_FALSE(osgDB::readRefNodeFile(pagedName("2/0/0", uid)).valid());
}

TEST(TerrainTiles, PagedRequestBuildsTheFourChildrenWhileTheEngineLives)
{
    osg::ref_ptr<MapNode> mapNode = new MapNode(makeMap());
    const unsigned uid = mapNode->getTerrainEngine()->getEngineUID();

    osg::ref_ptr<osg::Node> loaded = osgDB::readRefNodeFile(pagedName("3/5/2", uid));
    ASSERT_TRUE(loaded.valid());
    osg::Group* group = loaded->asGroup();
    ASSERT_NE(group, nullptr);
    std::vector<std::string> names;
    for (unsigned q = 0; q < group->getNumChildren(); ++q)
    {
        auto* paged = dynamic_cast<osg::PagedLOD*>(group->getChild(q));
        ASSERT_NE(paged, nullptr);
        names.push_back(paged->getChild(0)->getName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"4/10/4", "4/11/4", "4/10/5", "4/11/5"}));

    // Keys off the grid and malformed names load nothing.
    EXPECT_FALSE(osgDB::readRefNodeFile(pagedName("1/9/9", uid)).valid());
    EXPECT_FALSE(osgDB::readRefNodeFile("nonsense." + std::to_string(uid) + ".osgearth_engine_mp_tile").valid());

    // Requests that outlive their engine find nothing to build.
    mapNode = nullptr;
    EXPECT_FALSE(osgDB::readRefNodeFile(pagedName("3/5/2", uid)).valid());
}

TEST(TerrainTiles, MissingRasterWarnsAndTheTerrainStillBuilds)
{
    veltra::test::NotifyCapture capture(osg::WARN);
    osg::ref_ptr<Map> map = makeMap();
    map->addImageLayer(gdalLayer("gone", "/nonexistent/folder/world.tif"));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    EXPECT_TRUE(capture.contains("/nonexistent/folder/world.tif"));
    osg::PagedLOD* root = rootOf(*mapNode);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->getNumChildren(), 2u);
}
