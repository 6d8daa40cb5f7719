#include "TerrainTestSupport.h"

#include "OffscreenRender.h"
#include "TempDir.h"
#include "ViewerHarness.h"
#include "VirtualDisplay.h"

#include <osgEarth/TerrainEngineNode>

#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace osgEarth;
using namespace terraintest;

namespace {

// A camera straight above (lon, lat) at `height` metres, looking at the ground.
void lookDownAt(osg::Camera& camera, const SpatialReference* srs, double lon, double lat, double height)
{
    osg::Vec3d ground, eye;
    srs->transformToWorld(osg::Vec3d(lon, lat, 0), ground);
    srs->transformToWorld(osg::Vec3d(lon, lat, height), eye);
    camera.setViewMatrixAsLookAt(eye, ground, osg::Vec3d(0, 0, 1));
    camera.setProjectionMatrixAsPerspective(30.0, 1.0, height * 0.1, height * 10.0);
    camera.setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
}

class TerrainRender : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!veltra::test::ensureDisplay(&why))
        {
            GTEST_SKIP() << why;
        }
        ASSERT_TRUE(writeHemispheres(_dir.file("world.tif")));
    }

    veltra::test::TempDir _dir;
};

} // namespace

TEST_F(TerrainRender, EarthFileWithAGeoTiffColoursTheHemispheres)
{
    // Written as a user would: relative paths, one of them to a raster that is not there.
    const std::string earthFile = _dir.write("world.earth", R"(<map name="hemispheres" type="geocentric">
        <options lighting="false"/>
        <image name="missing" driver="gdal" url="absent.tif"/>
        <image name="world" driver="gdal"><url>world.tif</url></image>
    </map>)");
    osg::ref_ptr<osg::Node> loaded = osgDB::readRefNodeFile(earthFile);
    osg::ref_ptr<MapNode> mapNode = MapNode::get(loaded.get());
    ASSERT_TRUE(mapNode.valid());
    const SpatialReference* srs = mapNode->getMapSRS();

    const struct
    {
        double lon;
        osg::Vec4ub colour;
    } cases[] = {{-90.0, {255, 0, 0, 255}}, {90.0, {0, 0, 255, 255}}};
    for (const auto& c : cases)
    {
        std::string why;
        osg::ref_ptr<osg::Image> image = veltra::test::renderOffscreen(
            mapNode.get(), 64, 64, [&](osg::Camera& camera) { lookDownAt(camera, srs, c.lon, 10.0, 5e6); }, &why);
        ASSERT_TRUE(image.valid()) << why;
        const osg::Vec4ub centre = veltra::test::pixelAt(*image, 32, 32);
        EXPECT_TRUE(veltra::test::colourNear(centre, c.colour, 20))
            << "at longitude " << c.lon << ": " << veltra::test::describe(centre);
    }
}

TEST_F(TerrainRender, FinerLevelsPageInAsTheCameraClosesInAndExpireOnceItLeaves)
{
    osg::ref_ptr<Map> map = makeMap();
    map->addImageLayer(gdalLayer("world", _dir.file("world.tif")));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    veltra::test::ViewerHarness harness(64, 64);
    if (!harness.valid())
    {
        GTEST_SKIP() << harness.why();
    }
    // A small budget, so the pager gives up tiles out of view as soon as it can.
    harness.viewer().getDatabasePager()->setTargetMaximumNumberOfPageLOD(8);
    harness.setScene(mapNode.get());
    const auto lookFrom = [&](double height) {
        osg::Vec3d ground, eye;
        map->getSRS()->transformToWorld(osg::Vec3d(-60.0, 20.0, 0), ground);
        map->getSRS()->transformToWorld(osg::Vec3d(-60.0, 20.0, height), eye);
        harness.lookAt(eye, ground, osg::Vec3d(0, 0, 1));
    };
    const auto frameUntil = [&](auto done) {
        for (int round = 0; round < 200; ++round)
        {
            harness.frame(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::vector<std::string> names;
            collectTileNames(mapNode->getTerrainEngine(), names);
            if (done(names))
                return names;
        }
        std::vector<std::string> names;
        collectTileNames(mapNode->getTerrainEngine(), names);
        return names;
    };

    lookFrom(2e5);
    const std::vector<std::string> close = frameUntil([](const auto& names) { return deepestLevel(names) >= 4; });
    ASSERT_GE(deepestLevel(close), 4u);

    lookFrom(3e7);
    const std::vector<std::string> far = frameUntil([](const auto& names) { return deepestLevel(names) <= 2; });
    EXPECT_LE(deepestLevel(far), 2u) << "the fine tiles of the close view stay loaded";
    EXPECT_LT(far.size(), close.size());
}
