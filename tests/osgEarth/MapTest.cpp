#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/TerrainEngineNode>
#include <osgEarth/Viewpoint>
#include <osgEarthUtil/Sky>

#include "NotifyCapture.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <osg/NodeCallback>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgUtil/UpdateVisitor>

#include <sstream>

using namespace osgEarth;
using veltra::test::NotifyCapture;
using veltra::test::TempDir;

namespace {

const char* const kDemoEarth = R"(<map name="demo" type="geocentric" version="2">
    <options lighting="false">
        <terrain min_tile_range_factor="6" driver="mp"/>
    </options>
    <image name="base" driver="gdal"><url>data/world.tif</url></image>
    <image name="tiles" driver="xyz" url="http://host/{z}/{x}/{y}.png" profile="spherical-mercator"/>
    <image name="weird" driver="no_such_driver"/>
    <image name="grid" driver="debug" opacity="0.5"/>
    <elevation name="dem" driver="tms"><url>http://host/tms/dem/</url></elevation>
    <heightfield name="legacy" driver="gdal" url="/abs/dem.tif"/>
    <model name="roads" driver="feature_geom"><features driver="tfs"/></model>
    <widgets colour="blue"/>
    <external>
        <sky hours="12" ambient="0.1"/>
        <viewpoints>
            <viewpoint name="home" long="111.5" lat="31.7" height="0" pitch="-89" range="1.8e7"/>
            <viewpoint name="sydney" long="151.2093" lat="-33.8688" height="0" pitch="-45" range="5000"/>
        </viewpoints>
    </external>
</map>
)";

osg::ref_ptr<osg::Node> readFile(const std::string& path)
{
    return osgDB::readRefNodeFile(path);
}

osgDB::ReaderWriter::ReadResult readWithEarthReader(const std::string& path)
{
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension("earth");
    EXPECT_NE(reader, nullptr) << "the library registers a reader for .earth";
    return reader ? reader->readNode(path) : osgDB::ReaderWriter::ReadResult();
}

// "name:driver" of each layer, in map order.
template <typename Layers>
std::vector<std::string> names(const Layers& layers)
{
    std::vector<std::string> out;
    for (const auto& layer : layers)
    {
        out.push_back(layer.name().get() + ":" + layer.getDriver());
    }
    return out;
}

// Reads `xml` written to a fresh earth file and returns its map node (null if reading failed).
osg::ref_ptr<MapNode> readEarth(const TempDir& dir, const std::string& xml)
{
    osg::ref_ptr<osg::Node> node = readFile(dir.write("test.earth", xml));
    return MapNode::get(node.get());
}

} // namespace

TEST(EarthFile, ReadsMapNameTypeLayersAndExternalData)
{
    TempDir dir;
    NotifyCapture warnings(osg::WARN);
    osg::ref_ptr<osg::Node> node = readFile(dir.write("demo.earth", kDemoEarth));
    ASSERT_TRUE(node.valid());
    MapNode* mapNode = MapNode::get(node.get());
    ASSERT_NE(mapNode, nullptr);
    const Map* map = mapNode->getMap();
    ASSERT_NE(map, nullptr);

    EXPECT_EQ(map->getName(), "demo");
    EXPECT_TRUE(map->isGeocentric());
    EXPECT_TRUE(mapNode->isGeocentric());
    ASSERT_NE(mapNode->getMapSRS(), nullptr);
    EXPECT_EQ(mapNode->getMapSRS()->getHorizInitString(), "epsg:4326");
    EXPECT_FALSE(map->getMapOptions().enableLighting().get());
    EXPECT_EQ(map->getMapOptions().terrainOptions().value("min_tile_range_factor"), "6");

    // Layers keep document order; the unknown driver is skipped with a warning naming layer and driver.
    EXPECT_EQ(names(map->getImageLayers()), (std::vector<std::string>{"base:gdal", "tiles:xyz", "grid:debug"}));
    EXPECT_EQ(names(map->getElevationLayers()), (std::vector<std::string>{"dem:tms", "legacy:gdal"}));
    EXPECT_TRUE(warnings.contains("weird")) << "the warning names the skipped layer";
    EXPECT_TRUE(warnings.contains("no_such_driver")) << "the warning names the driver";
    EXPECT_EQ(map->getImageLayerByName("weird"), nullptr);

    // Per-layer keys are read, and driver keys survive in the kept Config.
    const ImageLayerOptions* grid = map->getImageLayerByName("grid");
    ASSERT_NE(grid, nullptr);
    EXPECT_FLOAT_EQ(grid->opacity().get(), 0.5f);
    const ImageLayerOptions* tiles = map->getImageLayerByName("tiles");
    ASSERT_NE(tiles, nullptr);
    EXPECT_EQ(tiles->getConfig().value("profile"), "spherical-mercator");
    EXPECT_EQ(tiles->resolvedURL(), "http://host/{z}/{x}/{y}.png");
    EXPECT_EQ(map->getElevationLayerByName("legacy")->resolvedURL(), "/abs/dem.tif");

    ASSERT_EQ(map->getModelLayerConfigs().size(), 1u);
    EXPECT_EQ(map->getModelLayerConfigs().front().value("name"), "roads");
    EXPECT_EQ(map->getModelLayerConfigs().front().child("features").value("driver"), "tfs");

    const Config& external = mapNode->externalConfig();
    EXPECT_EQ(external.key(), "external");
    EXPECT_EQ(external.child("sky").value("hours"), "12");
    EXPECT_DOUBLE_EQ(external.child("sky").value("ambient", 0.0), 0.1);

    std::vector<Viewpoint> viewpoints;
    for (const Config& conf : external.child("viewpoints").children("viewpoint"))
    {
        viewpoints.emplace_back(conf);
    }
    ASSERT_EQ(viewpoints.size(), 2u);
    EXPECT_EQ(viewpoints[0].getName(), "home");
    EXPECT_TRUE(viewpoints[0].isValid());
    EXPECT_DOUBLE_EQ(viewpoints[0].getRange(), 1.8e7);
    EXPECT_EQ(viewpoints[1].getName(), "sydney");
    EXPECT_DOUBLE_EQ(viewpoints[1].x(), 151.2093);
    EXPECT_DOUBLE_EQ(viewpoints[1].y(), -33.8688);
    EXPECT_DOUBLE_EQ(viewpoints[1].getPitch(), -45.0);
}

TEST(EarthFile, UnknownElementsAreNotedAndTheRestLoads)
{
    TempDir dir;
    NotifyCapture notes(osg::INFO);
    osg::ref_ptr<MapNode> mapNode = readEarth(dir, "<earth name='e'><gadget/><image name='a' driver='debug'/></earth>");
    ASSERT_TRUE(mapNode.valid()) << "<earth> is accepted as the root element";
    EXPECT_TRUE(notes.contains("gadget"));
    EXPECT_EQ(mapNode->getMap()->getImageLayers().size(), 1u);
    EXPECT_TRUE(mapNode->externalConfig().empty()) << "no <external> gives an empty Config";
}

TEST(EarthFile, ProjectedMapWithSphericalMercatorProfile)
{
    TempDir dir;
    osg::ref_ptr<MapNode> mapNode =
        readEarth(dir, "<map type='flat'><options><profile>spherical-mercator</profile></options></map>");
    ASSERT_TRUE(mapNode.valid());
    EXPECT_FALSE(mapNode->isGeocentric());
    ASSERT_NE(mapNode->getMapSRS(), nullptr);
    EXPECT_TRUE(mapNode->getMapSRS()->isSphericalMercator());
    EXPECT_EQ(mapNode->getMap()->getProfile()->getNumTilesWideAtLod0(), 1u);

    TerrainEngineNode* engine = mapNode->getTerrainEngine();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->getFormat(), "INIT");
    EXPECT_EQ(engine->getCoordinateSystem(), "spherical-mercator");
    EXPECT_EQ(engine->getEllipsoidModel(), nullptr) << "a flat map has no ellipsoid";
}

TEST(EarthFile, ProfileFromAttributesAndGeocentricFallback)
{
    TempDir dir;
    osg::ref_ptr<MapNode> projected = readEarth(dir, R"(<map type="projected"><options>
        <profile srs="wgs84" xmin="100" ymin="20" xmax="120" ymax="40" num_tiles_wide_at_lod_0="1"
                 num_tiles_high_at_lod_0="1"/></options></map>)");
    ASSERT_TRUE(projected.valid());
    const Profile* profile = projected->getMap()->getProfile();
    EXPECT_DOUBLE_EQ(profile->getExtent().xMin(), 100.0);
    EXPECT_DOUBLE_EQ(profile->getExtent().yMax(), 40.0);
    EXPECT_EQ(profile->getNumTilesWideAtLod0(), 1u);

    // A round earth tiles geographically: a mercator profile gives way to global-geodetic.
    osg::ref_ptr<MapNode> globe = readEarth(dir, "<map><options><profile>spherical-mercator</profile></options></map>");
    ASSERT_TRUE(globe.valid());
    EXPECT_EQ(globe->getMapSRS()->getHorizInitString(), "epsg:4326");
    EXPECT_EQ(globe->getMap()->getProfile()->getNumTilesWideAtLod0(), 2u);

    // An unusable profile is reported, and the map still loads on global-geodetic.
    NotifyCapture warnings(osg::WARN);
    osg::ref_ptr<MapNode> broken =
        readEarth(dir, "<map type='flat'><options><profile>nowhere</profile></options></map>");
    ASSERT_TRUE(broken.valid());
    EXPECT_TRUE(warnings.contains("nowhere"));
    EXPECT_EQ(broken->getMapSRS()->getHorizInitString(), "epsg:4326");
}

TEST(EarthFile, BrokenInputGivesErrorResults)
{
    TempDir dir;
    NotifyCapture quiet(osg::FATAL);

    auto malformed = readWithEarthReader(dir.write("bad.earth", "<map><image name='a'></map>"));
    EXPECT_EQ(malformed.status(), osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE);
    EXPECT_NE(malformed.message().find("malformed"), std::string::npos) << malformed.message();
    EXPECT_FALSE(readFile(dir.file("bad.earth")).valid());

    auto missing = readWithEarthReader(dir.file("absent.earth"));
    EXPECT_EQ(missing.status(), osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND);
    EXPECT_NE(missing.message().find("absent.earth"), std::string::npos) << missing.message();
    EXPECT_FALSE(readFile(dir.file("absent.earth")).valid());

    auto wrongRoot = readWithEarthReader(dir.write("root.earth", "<globe/>"));
    EXPECT_EQ(wrongRoot.status(), osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE);
    EXPECT_NE(wrongRoot.message().find("<globe>"), std::string::npos) << wrongRoot.message();

    auto empty = readWithEarthReader(dir.write("empty.earth", ""));
    EXPECT_FALSE(empty.success());
}

TEST(EarthFile, RelativeUrlsResolveAgainstTheFilesFolder)
{
    TempDir dir;
    NotifyCapture quiet(osg::FATAL);
    const std::string path = dir.write("demo.earth", kDemoEarth);
    osg::ref_ptr<MapNode> mapNode = MapNode::get(readFile(path).get());
    ASSERT_TRUE(mapNode.valid());
    const ImageLayerOptions* base = mapNode->getMap()->getImageLayerByName("base");
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->getConfig().referrer(), osgDB::getRealPath(path));
    EXPECT_EQ(base->resolvedURL(), osgDB::getRealPath(dir.path().string()) + "/data/world.tif");

    // A stream has no path; the database folder of the options stands in for the file's folder.
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension("earth");
    ASSERT_NE(reader, nullptr);
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options();
    options->setDatabasePath("/srv/maps");
    std::istringstream in("<map><image name='a' driver='gdal' url='a.tif'/></map>");
    auto result = reader->readNode(in, options.get());
    ASSERT_TRUE(result.validNode()) << result.message();
    MapNode* streamed = MapNode::get(result.getNode());
    ASSERT_NE(streamed, nullptr);
    EXPECT_EQ(streamed->getMap()->getImageLayers().front().resolvedURL(), "/srv/maps/a.tif");
}

TEST(EarthFile, OsgFilePathsJoinTheDataPathOnce)
{
    TempDir dir;
    const osgDB::FilePathList saved = osgDB::getDataFilePathList();
    const std::string xml = "<map><options><osg_file_paths><url>textures</url><url>/opt/shared</url>"
                            "</osg_file_paths></options></map>";
    ASSERT_TRUE(readEarth(dir, xml).valid());
    ASSERT_TRUE(readEarth(dir, xml).valid());
    osgDB::FilePathList added = osgDB::getDataFilePathList();
    osgDB::setDataFilePathList(saved);

    ASSERT_EQ(added.size(), saved.size() + 2) << "a second read adds nothing";
    EXPECT_EQ(added[saved.size()], osgDB::getRealPath(dir.path().string()) + "/textures");
    EXPECT_EQ(added[saved.size() + 1], "/opt/shared");
}

TEST(MapNode, StructureAndTerrainEngineContract)
{
    osg::ref_ptr<MapNode> mapNode = new MapNode();
    EXPECT_STREQ(mapNode->className(), "MapNode");
    EXPECT_STREQ(mapNode->libraryName(), "osgEarth");
    EXPECT_EQ(mapNode->getName(), "osgEarth::MapNode");
    EXPECT_TRUE(mapNode->isGeocentric());
    EXPECT_EQ(mapNode->getMapSRS()->getHorizInitString(), "epsg:4326");

    osg::Group* models = mapNode->getModelLayerGroup();
    ASSERT_NE(models, nullptr);
    EXPECT_EQ(models->getName(), "osgEarth::MapNode.modelsGroup");
    EXPECT_EQ(models->getNumChildren(), 0u);

    TerrainEngineNode* engine = mapNode->getTerrainEngine();
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(mapNode->containsNode(engine));
    EXPECT_EQ(engine->getFormat(), "INIT");
    EXPECT_EQ(engine->getCoordinateSystem(), "epsg:4326");
    ASSERT_NE(engine->getEllipsoidModel(), nullptr);
    EXPECT_DOUBLE_EQ(engine->getEllipsoidModel()->getRadiusEquator(), 6378137.0);
    EXPECT_NEAR(engine->getEllipsoidModel()->getRadiusPolar(), 6356752.3142, 1e-3);
    EXPECT_EQ(engine->getMap(), mapNode->getMap());

    // A clone finds its own engine and model group again.
    osg::ref_ptr<MapNode> copy = osg::clone(mapNode.get(), osg::CopyOp::DEEP_COPY_NODES);
    ASSERT_TRUE(copy.valid());
    EXPECT_EQ(copy->getMap(), mapNode->getMap());
    ASSERT_NE(copy->getTerrainEngine(), nullptr);
    EXPECT_NE(copy->getTerrainEngine(), engine);
    EXPECT_TRUE(copy->containsNode(copy->getTerrainEngine()));
    EXPECT_EQ(copy->getTerrainEngine()->getCoordinateSystem(), "epsg:4326");
    ASSERT_NE(copy->getModelLayerGroup(), nullptr);
    EXPECT_NE(copy->getModelLayerGroup(), models);
}

TEST(MapNode, GetSearchesUpwardThenDownwardHonouringTheMask)
{
    osg::ref_ptr<osg::Group> root = new osg::Group();
    osg::ref_ptr<osg::Group> parent = new osg::Group();
    osg::ref_ptr<MapNode> mapNode = new MapNode();
    osg::ref_ptr<osg::Group> leaf = new osg::Group();
    root->addChild(parent.get());
    parent->addChild(mapNode.get());
    mapNode->getModelLayerGroup()->addChild(leaf.get());

    EXPECT_EQ(MapNode::get(leaf.get()), mapNode.get()) << "upward from a model node";
    EXPECT_EQ(MapNode::get(mapNode->getTerrainEngine()), mapNode.get());
    EXPECT_EQ(MapNode::get(root.get()), mapNode.get()) << "downward from the scene root";
    EXPECT_EQ(MapNode::get(mapNode.get()), mapNode.get());
    EXPECT_EQ(MapNode::get(nullptr), nullptr);

    osg::ref_ptr<osg::Group> unrelated = new osg::Group();
    unrelated->addChild(new osg::Group());
    EXPECT_EQ(MapNode::get(unrelated.get()), nullptr);

    // Downward, a masked-out branch is not entered.
    parent->setNodeMask(0x1);
    EXPECT_EQ(MapNode::get(root.get(), 0x2), nullptr);
    EXPECT_EQ(MapNode::get(root.get(), 0x1), mapNode.get());

    // Upward means ancestors only: a map node in a sibling branch is not found from below.
    osg::ref_ptr<osg::Group> sibling = new osg::Group();
    root->addChild(sibling.get());
    EXPECT_EQ(MapNode::get(sibling.get()), nullptr) << "upward search does not descend into other branches";
}

TEST(MapNode, RunsUpdateCallbacksLikeAnyGroup)
{
    struct Counter : osg::NodeCallback
    {
        int calls = 0;
        void operator()(osg::Node* node, osg::NodeVisitor* nv) override
        {
            ++calls;
            traverse(node, nv);
        }
    };
    osg::ref_ptr<MapNode> mapNode = new MapNode();
    osg::ref_ptr<Counter> update = new Counter();
    osg::ref_ptr<Counter> event = new Counter();
    mapNode->addUpdateCallback(update.get());
    mapNode->addEventCallback(event.get());
    osg::ref_ptr<osg::Group> root = new osg::Group();
    root->addChild(mapNode.get());
    EXPECT_EQ(root->getNumChildrenRequiringUpdateTraversal(), 1u);
    EXPECT_EQ(root->getNumChildrenRequiringEventTraversal(), 1u);

    osgUtil::UpdateVisitor visitor;
    root->accept(visitor);
    EXPECT_EQ(update->calls, 1);
}

TEST(Map, LayerRulesAndOptionsRoundTrip)
{
    osg::ref_ptr<Map> map = new Map();
    NotifyCapture warnings(osg::WARN);
    EXPECT_FALSE(map->addImageLayer(ImageLayerOptions("nodriver", "")));
    EXPECT_TRUE(warnings.contains("nodriver"));
    EXPECT_TRUE(map->addImageLayer(ImageLayerOptions("upper", "GDAL"))) << "driver names ignore case";
    EXPECT_FALSE(map->addElevationLayer(ElevationLayerOptions("wms", "wms")));
    EXPECT_TRUE(map->getElevationLayers().empty());

    Config conf("image");
    conf.add("name", "sat");
    conf.add("driver", "tms");
    conf.add("url", "http://host/tms/");
    conf.add("max_level", "12");
    conf.add("custom_key", "kept");
    ImageLayerOptions options(conf);
    EXPECT_EQ(options.maxLevel().get(), 12u);
    EXPECT_FALSE(options.minLevel().isSet());
    ImageLayerOptions copy = options;
    const Config written = copy.getConfig();
    EXPECT_EQ(written.value("custom_key"), "kept") << "keys the class does not know survive copies";
    EXPECT_EQ(written.value("driver"), "tms");
    EXPECT_EQ(written.value("max_level"), "12");
    EXPECT_FALSE(written.hasChild("min_level")) << "unset options are not written";

    MapOptions mapOptions(Config("options"));
    mapOptions.coordSysType() = MapOptions::CSTYPE_PROJECTED;
    EXPECT_EQ(mapOptions.getConfig().value("type"), "projected");
    EXPECT_FALSE(MapOptions(mapOptions.getConfig()).isGeocentric());
}

TEST(EarthFile, SkyElementIsKeptForTheApplicationToBuildItsSky)
{
    TempDir dir;
    osg::ref_ptr<MapNode> plain = readEarth(dir, R"(<map><external><viewpoints/></external></map>)");
    ASSERT_TRUE(plain.valid());
    EXPECT_TRUE(plain->externalConfig().child("sky").empty()) << "no sky element, so no sky";

    osg::ref_ptr<MapNode> withSky = readEarth(dir, R"(<map type="geocentric"><external><sky/></external></map>)");
    ASSERT_TRUE(withSky.valid());
    const Config sky = withSky->externalConfig().child("sky");
    ASSERT_FALSE(sky.empty()) << "a bare <sky/> still asks for a sky";
    const Util::SkyOptions options{ConfigOptions(sky)};
    EXPECT_EQ(options.getDriver(), "");
    osg::ref_ptr<Util::SkyNode> node = Util::SkyNode::create(options, withSky.get());
    ASSERT_TRUE(node.valid());
    EXPECT_EQ(node->getDriverName(), "simple");
}
