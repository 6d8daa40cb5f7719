#include "TerrainTestSupport.h"

#include "NotifyCapture.h"
#include "OffscreenRender.h"
#include "TempDir.h"

#include <osgEarth/TerrainEngineNode>
#include <osgEarth/TileKey>

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/Texture2D>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(names,
              (std::vector<std::string>{"1/0/0", "1/1/0", "1/0/1", "1/1/1", "1/2/0", "1/3/0", "1/2/1", "1/3/1"}));
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

TEST(TerrainTiles, FirstAndMinLodShapeTheTopOfTheTree)
{
    Config terrain("terrain");
    terrain.add("first_lod", "2");
    terrain.add("min_level", "3"); // the alias of min_lod
    osg::ref_ptr<MapNode> mapNode = new MapNode(makeMap(terrain));
    osg::PagedLOD* root = rootOf(*mapNode);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->getNumChildren(), 2u);
    osg::Group* west = root->getChild(0)->asGroup();
    ASSERT_EQ(west->getNumChildren(), 16u) << "level 2 under the western level-0 tile";
    auto* first = dynamic_cast<osg::PagedLOD*>(west->getChild(0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->getChild(0)->getName(), "2/0/0");
    // Level 2 lies above min_lod: its children are wanted from any distance.
    EXPECT_EQ(first->getMinRange(0), FLT_MAX);
    EXPECT_EQ(first->getMaxRange(1), FLT_MAX);

    const unsigned uid = mapNode->getTerrainEngine()->getEngineUID();
    osg::ref_ptr<osg::Node> level3 = osgDB::readRefNodeFile(pagedName("2/0/0", uid));
    ASSERT_TRUE(level3.valid());
    auto* deeper = dynamic_cast<osg::PagedLOD*>(level3->asGroup()->getChild(0));
    ASSERT_NE(deeper, nullptr);
    EXPECT_NEAR(deeper->getMinRange(0), expectedMinRange(TileKey(3, 0, 0, mapNode->getMap()->getProfile()), 6.0), 1.0);
}

TEST(TerrainTiles, ForcedLevelsAreCappedSoTheGlobeStaysBuildable)
{
    Config terrain("terrain");
    terrain.add("first_lod", "18");
    terrain.add("min_lod", "19");
    veltra::test::NotifyCapture capture(osg::WARN);
    osg::ref_ptr<MapNode> mapNode = new MapNode(makeMap(terrain));
    EXPECT_TRUE(capture.contains("first_lod and min_lod"));
    osg::PagedLOD* root = rootOf(*mapNode);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->getChild(0)->asGroup()->getNumChildren(), 1024u) << "level 5 under one level-0 tile";
}

namespace {

/// The largest distance from the earth's centre of any vertex of a tile on the equator.
double highestVertexRadius(MapNode& mapNode)
{
    const unsigned uid = mapNode.getTerrainEngine()->getEngineUID();
    osg::ref_ptr<osg::Node> children = osgDB::readRefNodeFile(pagedName("4/15/7", uid)); // touches the equator
    auto* paged = children.valid() ? dynamic_cast<osg::PagedLOD*>(children->asGroup()->getChild(2)) : nullptr;
    auto* tile = paged ? dynamic_cast<osg::MatrixTransform*>(paged->getChild(0)) : nullptr;
    if (!tile)
        return 0.0;
    auto* geometry = tile->getChild(0)->asGeode()->getDrawable(0)->asGeometry();
    const auto* vertices = static_cast<const osg::Vec3Array*>(geometry->getVertexArray());
    double highest = 0.0;
    for (const osg::Vec3& v : *vertices)
        highest = std::max(highest, (osg::Vec3d(v) + tile->getMatrix().getTrans()).length());
    return highest;
}

} // namespace

TEST(TerrainTiles, ElevationLayersScaleAndOffsetTheSurface)
{
    veltra::test::TempDir folder;
    ASSERT_TRUE(writeFlatDemTiff(folder.file("base.tif"), 1000.0f));
    ASSERT_TRUE(writeFlatDemTiff(folder.file("offset.tif"), 250.0f));
    const double equator = 6378137.0;

    osg::ref_ptr<Map> flat = makeMap();
    EXPECT_NEAR(highestVertexRadius(*osg::ref_ptr<MapNode>(new MapNode(flat.get()))), equator, 1.0);

    osg::ref_ptr<Map> raised = makeMap();
    raised->addElevationLayer(gdalElevation("base", folder.file("base.tif")));
    EXPECT_NEAR(highestVertexRadius(*osg::ref_ptr<MapNode>(new MapNode(raised.get()))), equator + 1000.0, 1.0);

    Config terrain("terrain");
    terrain.add("vertical_scale", "2");
    osg::ref_ptr<Map> scaled = makeMap(terrain);
    scaled->addElevationLayer(gdalElevation("base", folder.file("base.tif")));
    scaled->addElevationLayer(gdalElevation("offset", folder.file("offset.tif"), true));
    EXPECT_NEAR(highestVertexRadius(*osg::ref_ptr<MapNode>(new MapNode(scaled.get()))), equator + 2500.0, 1.0)
        << "the offset layer adds to the base, then the whole is scaled";
}

TEST(TerrainTiles, LayerLevelsAndTheTerrainColour)
{
    veltra::test::TempDir folder;
    ASSERT_TRUE(writeHemispheres(folder.file("world.tif")));
    Config terrain("terrain");
    terrain.add("color", "#336699");
    osg::ref_ptr<Map> map = makeMap(terrain);
    ImageLayerOptions deepOnly = gdalLayer("deep", folder.file("world.tif"));
    deepOnly.minLevel() = 2u;
    map->addImageLayer(deepOnly);
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());

    const auto tileGeode = [](osg::Node* paged) {
        return static_cast<osg::Group*>(paged)->getChild(0)->asGroup()->getChild(0)->asGeode();
    };
    // Level 1 is above the layer's levels: the tile shows the terrain colour alone.
    osg::Geode* level1 = tileGeode(rootOf(*mapNode)->getChild(0)->asGroup()->getChild(0));
    const auto* colours = static_cast<const osg::Vec4Array*>(level1->getDrawable(0)->asGeometry()->getColorArray());
    ASSERT_EQ(colours->size(), 1u);
    EXPECT_NEAR((*colours)[0].r(), 0x33 / 255.0, 1e-3);
    EXPECT_NEAR((*colours)[0].b(), 0x99 / 255.0, 1e-3);
    EXPECT_EQ(level1->getStateSet() ? level1->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE)
                                    : nullptr,
              nullptr);

    // Level 2 has the imagery, drawn unshaded by the terrain colour.
    osg::ref_ptr<osg::Node> level2 =
        osgDB::readRefNodeFile(pagedName("1/0/0", mapNode->getTerrainEngine()->getEngineUID()));
    ASSERT_TRUE(level2.valid());
    osg::Geode* textured = tileGeode(level2->asGroup()->getChild(0));
    ASSERT_NE(textured->getStateSet(), nullptr);
    EXPECT_NE(textured->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE), nullptr);
    const auto* white = static_cast<const osg::Vec4Array*>(textured->getDrawable(0)->asGeometry()->getColorArray());
    EXPECT_EQ((*white)[0], osg::Vec4(1, 1, 1, 1));
}

TEST(TerrainTiles, PicturesWithWorldFilesDrapeLikeGeoTiffs)
{
    veltra::test::TempDir folder;
    for (const char* format : {"GTiff", "PNG", "JPEG"})
    {
        SCOPED_TRACE(format);
        const std::string path = folder.file(std::string("world.") + format);
        ASSERT_TRUE(writeHemispheres(path, format));
        osg::ref_ptr<Map> map = makeMap();
        map->addImageLayer(gdalLayer("world", path));
        osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());

        // The level-1 tiles 1/0/0 (far west) and 1/3/0 (far east), at the centre of their texture.
        osg::Group* tiles[] = {rootOf(*mapNode)->getChild(0)->asGroup(), rootOf(*mapNode)->getChild(1)->asGroup()};
        const osg::Vec4ub expected[] = {{255, 0, 0, 255}, {0, 0, 255, 255}};
        for (int side = 0; side < 2; ++side)
        {
            osg::Node* tile = static_cast<osg::Group*>(tiles[side]->getChild(side == 0 ? 0 : 1))->getChild(0);
            osg::StateSet* state = tile->asGroup()->getChild(0)->getStateSet();
            ASSERT_NE(state, nullptr);
            auto* texture = dynamic_cast<osg::Texture2D*>(state->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
            ASSERT_NE(texture, nullptr);
            const osg::Image* image = texture->getImage();
            const unsigned char* centre = image->data(image->s() / 2, image->t() / 2);
            EXPECT_TRUE(
                veltra::test::colourNear(osg::Vec4ub(centre[0], centre[1], centre[2], centre[3]), expected[side], 12))
                << tile->getName();
        }
    }
}
