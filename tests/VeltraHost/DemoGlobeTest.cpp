#include "veltra-demo/DemoFeatures.h"
#include "veltra-demo/DemoGlobe.h"

#include "GeoRasters.h"
#include "TempDir.h"

#include <osgEarth/MapNode>
#include <osgEarth/Viewpoint>
#include <osgEarthUtil/Sky>

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <osg/Geode>
#include <osg/NodeVisitor>
#include <osg/Texture2D>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <set>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using veltra::demo::WorldRasterSource;

struct DatasetCloser
{
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

Dataset openRaster(const std::filesystem::path& path)
{
    GDALAllRegister();
    return Dataset(static_cast<GDALDataset*>(GDALOpen(path.string().c_str(), GA_ReadOnly)));
}

std::array<int, 3> pixel(GDALDataset& dataset, int column, int row)
{
    std::array<unsigned char, 3> rgb{};
    int bands[3] = {1, 2, 3};
    EXPECT_EQ(dataset.RasterIO(GF_Read, column, row, 1, 1, rgb.data(), 1, 1, GDT_Byte, 3, bands, 3, 3, 1, nullptr),
              CE_None);
    return {rgb[0], rgb[1], rgb[2]};
}

// A whole-world raster: EPSG:4326, from (-180, 90) to (180, -90), in 256-pixel tiles with overviews.
void expectWholeWorldGeoTiff(GDALDataset& dataset, int width, const char* compression)
{
    ASSERT_EQ(dataset.GetRasterXSize(), width);
    ASSERT_EQ(dataset.GetRasterYSize(), width / 2);
    ASSERT_EQ(dataset.GetRasterCount(), 3);
    double geo[6] = {};
    ASSERT_EQ(dataset.GetGeoTransform(geo), CE_None);
    EXPECT_DOUBLE_EQ(geo[0], -180.0);
    EXPECT_DOUBLE_EQ(geo[3], 90.0);
    EXPECT_DOUBLE_EQ(geo[0] + geo[1] * width, 180.0);
    EXPECT_DOUBLE_EQ(geo[3] + geo[5] * (width / 2), -90.0);
    EXPECT_EQ(geo[2], 0.0);
    EXPECT_EQ(geo[4], 0.0);

    const OGRSpatialReference* srs = dataset.GetSpatialRef();
    ASSERT_NE(srs, nullptr);
    ASSERT_NE(srs->GetAuthorityCode(nullptr), nullptr);
    EXPECT_STREQ(srs->GetAuthorityCode(nullptr), "4326");

    int blockX = 0, blockY = 0;
    dataset.GetRasterBand(1)->GetBlockSize(&blockX, &blockY);
    EXPECT_EQ(blockX, 256);
    EXPECT_EQ(blockY, 256);
    const char* written = dataset.GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE");
    ASSERT_NE(written, nullptr);
    EXPECT_NE(std::string(written).find(compression), std::string::npos) << written;
    EXPECT_GE(dataset.GetRasterBand(1)->GetOverviewCount(), 1);
}

// A JPEG picture, red on its western half and blue on its eastern half.
std::string writeHemispheresJpeg(const veltra::test::TempDir& folder, int width, int height)
{
    const std::string path = folder.file("earth.jpg");
    return veltra::test::writeHemispheres(path, "JPEG", width, height) ? path : std::string();
}

bool isTextured(osg::Node& node)
{
    struct Finder : public osg::NodeVisitor
    {
        Finder() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
        void apply(osg::Geode& geode) override
        {
            const osg::StateSet* state = geode.getStateSet();
            const auto* texture =
                state ? dynamic_cast<const osg::Texture2D*>(state->getTextureAttribute(0, osg::StateAttribute::TEXTURE))
                      : nullptr;
            found = found || (texture && texture->getImage());
        }
        bool found = false;
    } finder;
    node.accept(finder);
    return finder.found;
}

TEST(DemoGlobe, EarthFileLoadsAsAGlobeWithItsSkyViewpointsAndImagery)
{
    veltra::test::TempDir folder;
    const auto files = veltra::demo::writeDemoGlobe(folder.path() / "globe", folder.path() / "no-such.jpg");
    EXPECT_EQ(files.source, WorldRasterSource::Generated);
    EXPECT_EQ(files.earthFile, folder.path() / "globe" / "world.earth");

    osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(files.earthFile.string());
    osgEarth::MapNode* mapNode = osgEarth::MapNode::get(node.get());
    ASSERT_NE(mapNode, nullptr);
    EXPECT_TRUE(mapNode->isGeocentric());
    const osgEarth::Map* map = mapNode->getMap();
    EXPECT_EQ(map->getName(), "Veltra demo world");
    EXPECT_EQ(map->getMapOptions().terrainOptions().value<double>("min_tile_range_factor", 0.0), 6.0);
    const osgEarth::ImageLayerOptions* world = map->getImageLayerByName("world");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(std::filesystem::path(world->resolvedURL()), files.worldRaster);

    const osgEarth::Config* sky = mapNode->externalConfig().child_ptr("sky");
    ASSERT_NE(sky, nullptr);
    const osgEarth::Util::SkyOptions skyOptions{osgEarth::ConfigOptions(*sky)};
    EXPECT_EQ(skyOptions.getDriver(), "simple");
    EXPECT_FLOAT_EQ(skyOptions.hours().get(), 12.0f);
    EXPECT_FLOAT_EQ(skyOptions.ambient().get(), 0.2f);

    const std::vector<veltra::demo::DemoPlace>& places = veltra::demo::demoPlaces();
    const osgEarth::ConfigSet viewpoints = mapNode->externalConfig().child("viewpoints").children("viewpoint");
    ASSERT_EQ(viewpoints.size(), places.size());
    ASSERT_GE(places.size(), 2u);
    size_t i = 0;
    for (const osgEarth::Config& conf : viewpoints)
    {
        const osgEarth::Viewpoint vp(conf);
        EXPECT_TRUE(vp.isValid()) << conf.toJSON();
        EXPECT_EQ(vp.getName(), places[i].name);
        EXPECT_NEAR(vp.x(), places[i].longitude, 1e-4);
        EXPECT_NEAR(vp.y(), places[i].latitude, 1e-4);
        EXPECT_NEAR(vp.getRange(), places[i].range, 0.5);
        ++i;
    }
    EXPECT_GT(places[0].range, 1e7) << "the first viewpoint shows the whole globe";

    // The engine's paged children of the western root tile: their tiles must carry the world raster, which proves
    // the layer's relative url was taken from the earth file's folder.
    const unsigned uid = mapNode->getTerrainEngine()->getEngineUID();
    ASSERT_NE(uid, 0u);
    osg::ref_ptr<osg::Node> children = osgDB::readNodeFile("0/0/0." + std::to_string(uid) + ".osgearth_engine_mp_tile");
    ASSERT_TRUE(children.valid());
    ASSERT_NE(children->asGroup(), nullptr);
    EXPECT_EQ(children->asGroup()->getNumChildren(), 4u);
    EXPECT_TRUE(isTextured(*children));
}

TEST(DemoGlobe, GeneratedWorldIsADeflatedWgs84GeoTiffWithGraticule)
{
    veltra::test::TempDir folder;
    const auto files = veltra::demo::writeDemoGlobe(folder.path(), "");
    ASSERT_EQ(files.source, WorldRasterSource::Generated);
    Dataset dataset = openRaster(files.worldRaster);
    ASSERT_TRUE(dataset);
    expectWholeWorldGeoTiff(*dataset, 1024, "DEFLATE");

    // Ice at the poles, blue ocean between; the equator (rows 255/256) and the prime meridian (columns 511/512) are
    // highlighted, and a graticule line runs along 15 degrees north (row 213).
    const auto pole = pixel(*dataset, 100, 2), ocean = pixel(*dataset, 100, 100);
    EXPECT_GT(pole[0], 200);
    EXPECT_LT(ocean[0], 80);
    EXPECT_GT(ocean[2], ocean[0] + 60);
    const auto equator = pixel(*dataset, 100, 256), meridian = pixel(*dataset, 512, 100);
    EXPECT_GT(equator[0], equator[2]);
    EXPECT_GT(meridian[0], meridian[2]);
    const auto graticule = pixel(*dataset, 100, 213), beside = pixel(*dataset, 100, 208);
    EXPECT_GT(graticule[0], beside[0] + 60);
}

TEST(DemoGlobe, PhotographBecomesAJpegGeoTiffOfTheWholeWorld)
{
    veltra::test::TempDir folder;
    const std::string photograph = writeHemispheresJpeg(folder, 64, 32);
    ASSERT_FALSE(photograph.empty());
    const auto files = veltra::demo::writeDemoGlobe(folder.path() / "globe", photograph);
    ASSERT_EQ(files.source, WorldRasterSource::Photograph);
    Dataset dataset = openRaster(files.worldRaster);
    ASSERT_TRUE(dataset);
    expectWholeWorldGeoTiff(*dataset, 64, "JPEG");

    const auto west = pixel(*dataset, 8, 16), east = pixel(*dataset, 56, 16);
    EXPECT_GT(west[0], 200);
    EXPECT_LT(west[2], 60);
    EXPECT_GT(east[2], 200);
    EXPECT_LT(east[0], 60);
}

TEST(DemoGlobe, UnusablePhotographFallsBackAndUnwritableFolderThrows)
{
    veltra::test::TempDir folder;
    const std::string notAPicture = folder.write("earth.jpg", "not a JPEG at all");
    const auto broken = veltra::demo::writeDemoGlobe(folder.path() / "a", notAPicture);
    EXPECT_EQ(broken.source, WorldRasterSource::Generated);

    // A picture that is not twice as wide as high would stretch the continents: also refused.
    veltra::test::TempDir squareFolder;
    const std::string square = writeHemispheresJpeg(squareFolder, 32, 32);
    ASSERT_FALSE(square.empty());
    const auto squared = veltra::demo::writeDemoGlobe(folder.path() / "b", square);
    EXPECT_EQ(squared.source, WorldRasterSource::Generated);
    Dataset dataset = openRaster(squared.worldRaster);
    ASSERT_TRUE(dataset);
    EXPECT_EQ(dataset->GetRasterXSize(), 1024);

    const std::string file = folder.write("plain-file", "x");
    EXPECT_THROW(veltra::demo::writeDemoGlobe(std::filesystem::path(file) / "globe", ""), std::runtime_error);
}

} // namespace

// The globe page's site: its features are real GeoJSON the plug-in can draw and remove by id, all near the building,
// and every named viewpoint is one the camera accepts.
TEST(DemoGlobe, SiteFeaturesAndViewpointsAreUsable)
{
    GDALAllRegister();
    const std::string text = veltra::demo::demoSiteFeaturesGeoJson();
    const std::string path = "/vsimem/demo-site.geojson";
    VSIFCloseL(VSIFileFromMemBuffer(path.c_str(), reinterpret_cast<GByte*>(const_cast<char*>(text.data())),
                                    vsi_l_offset(text.size()), FALSE));
    Dataset dataset(static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
    ASSERT_TRUE(dataset);
    ASSERT_EQ(dataset->GetLayerCount(), 1);
    const veltra::demo::DemoGlobeSite& site = veltra::demo::demoGlobeSite();
    const double metresPerDegree = 111320.0;
    std::map<OGRwkbGeometryType, int> kinds;
    std::set<GIntBig> ids;
    for (auto& feature : *dataset->GetLayer(0))
    {
        ids.insert(feature->GetFID());
        EXPECT_STRNE(feature->GetFieldAsString("name"), "");
        const OGRGeometry* geometry = feature->GetGeometryRef();
        ASSERT_NE(geometry, nullptr);
        ++kinds[wkbFlatten(geometry->getGeometryType())];
        OGREnvelope box;
        geometry->getEnvelope(&box);
        for (double lon : {box.MinX, box.MaxX})
            EXPECT_LT(std::abs(lon - site.longitude) * metresPerDegree * std::cos(osg::DegreesToRadians(site.latitude)),
                      150.0);
        for (double lat : {box.MinY, box.MaxY})
            EXPECT_LT(std::abs(lat - site.latitude) * metresPerDegree, 150.0);
    }
    dataset.reset();
    VSIUnlink(path.c_str());
    EXPECT_EQ(kinds, (std::map<OGRwkbGeometryType, int>{{wkbPoint, 4}, {wkbLineString, 3}, {wkbPolygon, 3}}));
    EXPECT_EQ(ids.size(), 10u) << "ids are unique, so each feature can be removed alone";

    osgEarth::Config page;
    page.fromJSON(veltra::demo::demoGlobePageJson());
    const osgEarth::Config& views = page.child("viewpoints");
    ASSERT_GE(views.children().size(), 5u);
    for (const osgEarth::Config& place : views.children())
    {
        SCOPED_TRACE(place.value("name"));
        EXPECT_TRUE(osgEarth::Viewpoint(place.child("viewpoint")).isValid());
    }
}
