#include "TerrainTestSupport.h"

#include "LoopbackHttp.h"
#include "NotifyCapture.h"
#include "TempDir.h"

#include <osgEarth/TerrainEngineNode>
#include <osgEarth/TileKey>

#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/Texture2D>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

using namespace osgEarth;
using veltra::test::HttpRequest;
using veltra::test::HttpResponse;
using veltra::test::LoopbackHttpServer;
using veltra::test::NotifyCapture;
using veltra::test::TempDir;

namespace {

// Service tiles are solid by position, red from the column and green from the row the URL names, with blue
// marking the northern half of each tile so that a tile drawn upside down shows.
int redOf(unsigned x)
{
    return 30 + 60 * int(x);
}
int greenOf(unsigned row)
{
    return 30 + 60 * int(row);
}

std::string pngTile(unsigned x, unsigned row, int size = 256)
{
    osg::ref_ptr<osg::Image> image = new osg::Image();
    image->allocateImage(size, size, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    for (int t = 0; t < size; ++t)
    {
        for (int s = 0; s < size; ++s)
        {
            unsigned char* px = image->data(s, t);
            px[0] = static_cast<unsigned char>(redOf(x));
            px[1] = static_cast<unsigned char>(greenOf(row));
            px[2] = t >= size / 2 ? 255 : 0; // OSG rows grow northwards
            px[3] = 255;
        }
    }
    std::ostringstream out;
    osgDB::Registry::instance()->getReaderWriterForExtension("png")->writeImage(*image, out);
    return out.str();
}

// Answers "<anything>/<z>/<x>/<row>.png" with pngTile(x, row); everything else 404.
HttpResponse serveTiles(const HttpRequest& request)
{
    unsigned z = 0, x = 0, row = 0;
    const std::string& target = request.target;
    const size_t rowStart = target.find_last_of('/');
    const size_t xStart = rowStart == std::string::npos ? std::string::npos : target.find_last_of('/', rowStart - 1);
    const size_t zStart = xStart == std::string::npos ? std::string::npos : target.find_last_of('/', xStart - 1);
    HttpResponse response;
    if (zStart == std::string::npos || std::sscanf(target.c_str() + zStart, "/%u/%u/%u.png", &z, &x, &row) != 3)
    {
        response.status = 404;
        return response;
    }
    response.headers.emplace_back("Content-Type", "image/png");
    response.body = pngTile(x, row);
    return response;
}

Config layerConfig(const std::string& key, const std::string& name, const std::string& driver, const std::string& url)
{
    Config conf(key);
    conf.add("name", name);
    conf.add("driver", driver);
    conf.add("url", url);
    return conf;
}

ImageLayerOptions imageLayer(Config conf)
{
    return ImageLayerOptions(ConfigOptions(conf));
}

Config xyzConfig(const std::string& url)
{
    Config conf = layerConfig("image", "tiles", "xyz", url);
    conf.add("profile", "spherical-mercator");
    return conf;
}

Map* makeNetMap(const Config& extraOptions = Config())
{
    Config options("options");
    options.add("lighting", "false");
    options.add(Config("terrain"));
    for (const Config& child : extraOptions.children())
        options.add(child);
    return new Map(MapOptions(ConfigOptions(options)));
}

Config cacheOptions(const std::string& folder, const std::string& usage = "")
{
    Config extra;
    Config cache("cache");
    cache.add("driver", "filesystem");
    cache.add("path", folder);
    extra.add(cache);
    if (!usage.empty())
    {
        Config policy("cache_policy");
        policy.add("usage", usage);
        extra.add(policy);
    }
    return extra;
}

osg::MatrixTransform* findTile(osg::Node* node, const std::string& name)
{
    if (!node)
        return nullptr;
    if (auto* tile = dynamic_cast<osg::MatrixTransform*>(node); tile && tile->getName() == name)
        return tile;
    osg::Group* group = node->asGroup();
    for (unsigned i = 0; group && i < group->getNumChildren(); ++i)
        if (osg::MatrixTransform* found = findTile(group->getChild(i), name))
            return found;
    return nullptr;
}

osg::Geode* tileGeode(MapNode& mapNode, const std::string& key)
{
    osg::MatrixTransform* tile = findTile(mapNode.getTerrainEngine(), key);
    return tile && tile->getNumChildren() > 0 ? tile->getChild(0)->asGeode() : nullptr;
}

// The texture image of a level-1 tile, or null when no layer gave it anything.
osg::Image* tileImage(MapNode& mapNode, const std::string& key)
{
    osg::Geode* geode = tileGeode(mapNode, key);
    osg::StateSet* state = geode ? geode->getStateSet() : nullptr;
    auto* texture =
        state ? dynamic_cast<osg::Texture2D*>(state->getTextureAttribute(0, osg::StateAttribute::TEXTURE)) : nullptr;
    return texture ? texture->getImage() : nullptr;
}

// The RGB of `image` (covering `key`'s extent, row 0 south) at a longitude/latitude.
osg::Vec3i colourAt(const osg::Image& image, const TileKey& key, double lon, double lat)
{
    const GeoExtent e = key.getExtent();
    const int s = int((lon - e.west()) / e.width() * image.s());
    const int t = int((lat - e.south()) / e.height() * image.t());
    const unsigned char* px = image.data(s, t);
    return osg::Vec3i(px[0], px[1], px[2]);
}

TileKey levelOneKey(const MapNode& mapNode, unsigned x, unsigned y)
{
    return TileKey(1, x, y, mapNode.getMap()->getProfile());
}

size_t warningsNaming(const NotifyCapture& capture, const std::string& text)
{
    size_t count = 0;
    for (const std::string& line : capture.lines())
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

} // namespace

TEST(TerrainNet, XyzMercatorTilesLandAtTheirLatLongAndHostsRoundRobin)
{
    LoopbackHttpServer server(serveTiles);
    osg::ref_ptr<Map> map = makeNetMap();
    map->addImageLayer(imageLayer(xyzConfig(server.url("/[abc]/{z}/{x}/{y}.png"))));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());

    // Map tile 1/2/0 spans 0..90 E, 0..90 N; mercator level 2 has the matching pixels (4 × 4 tiles of 90°).
    const TileKey key = levelOneKey(*mapNode, 2, 0);
    osg::Image* image = tileImage(*mapNode, key.str());
    ASSERT_NE(image, nullptr);
    // Mercator row 1 spans 0..66.5 N, split in halves at 41 N; row 0 spans 66.5..85.05 N.
    EXPECT_EQ(colourAt(*image, key, 45, 20), osg::Vec3i(redOf(2), greenOf(1), 0));
    EXPECT_EQ(colourAt(*image, key, 45, 55), osg::Vec3i(redOf(2), greenOf(1), 255));
    EXPECT_EQ(colourAt(*image, key, 10, 80), osg::Vec3i(redOf(2), greenOf(0), 255));
    // North of the mercator square the service has nothing: the white globe shows through.
    EXPECT_EQ(colourAt(*image, key, 45, 88), osg::Vec3i(255, 255, 255));

    const TileKey south = levelOneKey(*mapNode, 0, 1); // 180..90 W, 90..0 S
    osg::Image* southImage = tileImage(*mapNode, south.str());
    ASSERT_NE(southImage, nullptr);
    EXPECT_EQ(colourAt(*southImage, south, -170, -20), osg::Vec3i(redOf(0), greenOf(2), 255));

    std::set<std::string> hosts, levels;
    for (const HttpRequest& request : server.requests())
    {
        hosts.insert(request.target.substr(0, 3));
        levels.insert(request.target.substr(3, 2));
    }
    EXPECT_EQ(hosts, (std::set<std::string>{"/a/", "/b/", "/c/"}));
    EXPECT_EQ(levels, (std::set<std::string>{"2/"}));
}

TEST(TerrainNet, XyzInvertYCountsRowsFromTheSouth)
{
    LoopbackHttpServer server(serveTiles);
    Config conf = xyzConfig(server.url("/${z}/${x}/${y}.png"));
    conf.add("invert_y", "true");
    osg::ref_ptr<Map> map = makeNetMap();
    map->addImageLayer(imageLayer(conf));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());

    const TileKey key = levelOneKey(*mapNode, 2, 0);
    osg::Image* image = tileImage(*mapNode, key.str());
    ASSERT_NE(image, nullptr);
    // Mercator row 1 from the north is row 2 from the south.
    EXPECT_EQ(colourAt(*image, key, 45, 20), osg::Vec3i(redOf(2), greenOf(2), 0));
    EXPECT_EQ(colourAt(*image, key, 10, 80), osg::Vec3i(redOf(2), greenOf(3), 255));
}

TEST(TerrainNet, XyzWithoutProfileIsSkippedWithAWarning)
{
    NotifyCapture capture(osg::WARN);
    Config conf = layerConfig("image", "noprofile", "xyz", "http://127.0.0.1:9/{z}/{x}/{y}.png");
    osg::ref_ptr<Map> map = makeNetMap();
    map->addImageLayer(imageLayer(conf));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    EXPECT_EQ(warningsNaming(capture, "noprofile"), 1u);
    EXPECT_TRUE(capture.contains("profile"));
    EXPECT_EQ(tileImage(*mapNode, "1/0/0"), nullptr);
}

namespace {

const char* const kGeodeticTileMap = R"(<?xml version="1.0"?>
<TileMap version="1.0.0">
  <Title>test</Title>
  <SRS>EPSG:4326</SRS>
  <BoundingBox minx="-180" miny="-90" maxx="180" maxy="90"/>
  <Origin x="-180" y="-90"/>
  <TileFormat width="256" height="256" mime-type="image/png" extension="png"/>
  <TileSets profile="global-geodetic">
    <TileSet href="0" units-per-pixel="0.703125" order="0"/>
    <TileSet href="1" units-per-pixel="0.3515625" order="1"/>
    <TileSet href="2" units-per-pixel="0.17578125" order="2"/>
  </TileSets>
</TileMap>)";

HttpResponse serveTileMap(const HttpRequest& request)
{
    if (request.target == "/tms/layer/tilemapresource.xml")
    {
        HttpResponse response;
        response.body = kGeodeticTileMap;
        return response;
    }
    return serveTiles(request);
}

} // namespace

TEST(TerrainNet, TmsReadsItsTileMapAndCountsRowsFromTheSouthUnlessGoogle)
{
    LoopbackHttpServer server(serveTileMap);
    for (const bool google : {false, true})
    {
        Config conf = layerConfig("image", "tms", "tms", server.url("/tms/layer/"));
        if (google)
            conf.add("tms_type", "google");
        osg::ref_ptr<Map> map = makeNetMap();
        map->addImageLayer(imageLayer(conf));
        osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());

        // Same profile: map tile 1/2/0 is service tile (2, row 1 from the south) at level 1.
        const TileKey key = levelOneKey(*mapNode, 2, 0);
        osg::Image* image = tileImage(*mapNode, key.str());
        ASSERT_NE(image, nullptr) << "google " << google;
        EXPECT_EQ(colourAt(*image, key, 30, 20), osg::Vec3i(redOf(2), greenOf(google ? 0 : 1), 0));
        EXPECT_EQ(colourAt(*image, key, 30, 70), osg::Vec3i(redOf(2), greenOf(google ? 0 : 1), 255));
    }
    const std::vector<HttpRequest> requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().target, "/tms/layer/tilemapresource.xml");
    EXPECT_EQ(requests.back().target.rfind("/tms/layer/1/", 0), 0u);
}

TEST(TerrainNet, TmsWithoutReadableMetadataIsSkippedWithAWarning)
{
    LoopbackHttpServer server([](const HttpRequest& request) {
        HttpResponse response;
        if (request.target == "/broken/tilemapresource.xml")
            response.body = "<TileMap><SRS>EPSG:4326</SRS"; // cut short
        else
            response.status = 404;
        return response;
    });
    NotifyCapture capture(osg::WARN);
    osg::ref_ptr<Map> map = makeNetMap();
    map->addImageLayer(imageLayer(layerConfig("image", "missing", "tms", server.url("/gone"))));
    map->addImageLayer(imageLayer(layerConfig("image", "broken", "tms", server.url("/broken"))));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    EXPECT_EQ(warningsNaming(capture, "\"missing\""), 1u);
    EXPECT_TRUE(capture.contains("404"));
    EXPECT_EQ(warningsNaming(capture, "\"broken\""), 1u);
    EXPECT_NE(findTile(mapNode->getTerrainEngine(), "1/3/1"), nullptr);
    EXPECT_EQ(server.requestCount(), 2u); // metadata only, no tiles
}

TEST(TerrainNet, UnreachableOrMissingTilesWarnOncePerLayerAndTheTerrainStillBuilds)
{
    std::string closedURL;
    {
        LoopbackHttpServer gone([](const HttpRequest&) { return HttpResponse(); });
        closedURL = gone.url("/{z}/{x}/{y}.png");
    }
    LoopbackHttpServer notFound([](const HttpRequest&) {
        HttpResponse response;
        response.status = 404;
        return response;
    });

    LoopbackHttpServer garbage([](const HttpRequest&) {
        HttpResponse response;
        response.body = "\x89PNG but not really an image";
        return response;
    });

    NotifyCapture capture(osg::WARN);
    osg::ref_ptr<Map> map = makeNetMap();
    Config broken = xyzConfig(garbage.url("/{z}/{x}/{y}.png"));
    broken.set("name", "broken");
    map->addImageLayer(imageLayer(broken));
    Config offline = xyzConfig(closedURL);
    offline.set("name", "offline");
    Config missing = xyzConfig(notFound.url("/{z}/{x}/{y}.png"));
    missing.set("name", "missing");
    map->addImageLayer(imageLayer(offline));
    map->addImageLayer(imageLayer(missing));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());

    EXPECT_EQ(warningsNaming(capture, "\"offline\""), 1u);
    EXPECT_EQ(warningsNaming(capture, "\"missing\""), 1u);
    EXPECT_EQ(warningsNaming(capture, "\"broken\""), 1u);
    EXPECT_TRUE(capture.contains("404"));
    EXPECT_GT(notFound.requestCount(), 1u);
    // Every level-1 tile is still there, without imagery.
    std::vector<std::string> names;
    terraintest::collectTileNames(mapNode->getTerrainEngine(), names);
    EXPECT_EQ(names.size(), 8u);
    EXPECT_EQ(tileImage(*mapNode, "1/2/0"), nullptr);
}

TEST(TerrainNet, FileCacheServesTilesOnceTheServerIsGone)
{
    TempDir cache;
    const std::string folder = cache.file("tiles");
    auto server = std::make_unique<LoopbackHttpServer>(serveTiles);
    const std::string url = server->url("/{z}/{x}/{y}.png");
    {
        osg::ref_ptr<Map> map = makeNetMap(cacheOptions(folder));
        map->addImageLayer(imageLayer(xyzConfig(url)));
        osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
        ASSERT_NE(tileImage(*mapNode, "1/2/0"), nullptr);
    }
    EXPECT_GT(server->requestCount(), 0u);
    server.reset();
    EXPECT_FALSE(std::filesystem::is_empty(folder));

    osg::ref_ptr<Map> map = makeNetMap(cacheOptions(folder, "cache_only"));
    map->addImageLayer(imageLayer(xyzConfig(url)));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    const TileKey key = levelOneKey(*mapNode, 2, 0);
    osg::Image* image = tileImage(*mapNode, key.str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(colourAt(*image, key, 45, 55), osg::Vec3i(redOf(2), greenOf(1), 255));
}

TEST(TerrainNet, CachePathOfAnEarthFileCountsFromItsFolder)
{
    TempDir dir;
    LoopbackHttpServer server(serveTiles);
    const std::string earthFile = dir.write("cached.earth", R"(<map>
        <options lighting="false"><cache driver="filesystem" path="tile-cache"/></options>
        <image name="tiles" driver="xyz" profile="spherical-mercator" url=")" +
                                                                server.url("/{z}/{x}/{y}.png") + R"("/>
    </map>)");
    osg::ref_ptr<osg::Node> loaded = osgDB::readRefNodeFile(earthFile);
    ASSERT_NE(MapNode::get(loaded.get()), nullptr);
    EXPECT_GT(server.requestCount(), 0u);
    const std::filesystem::path beside = dir.path() / "tile-cache";
    EXPECT_TRUE(std::filesystem::is_directory(beside) && !std::filesystem::is_empty(beside));
}

TEST(TerrainNet, CacheOnlyNeverTouchesTheNetworkAndNoCacheStoresNothing)
{
    TempDir cache;
    LoopbackHttpServer server(serveTiles);
    {
        osg::ref_ptr<Map> map = makeNetMap(cacheOptions(cache.file("empty"), "cache_only"));
        map->addImageLayer(imageLayer(xyzConfig(server.url("/{z}/{x}/{y}.png"))));
        osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
        EXPECT_EQ(tileImage(*mapNode, "1/2/0"), nullptr);
        EXPECT_EQ(server.requestCount(), 0u);
    }
    osg::ref_ptr<Map> map = makeNetMap(cacheOptions(cache.file("unused"), "no_cache"));
    map->addImageLayer(imageLayer(xyzConfig(server.url("/{z}/{x}/{y}.png"))));
    osg::ref_ptr<MapNode> mapNode = new MapNode(map.get());
    EXPECT_NE(tileImage(*mapNode, "1/2/0"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(cache.file("unused")));
}

namespace {

// A GeoTIFF of `size` × `size` float heights, all `metres`.
std::string heightTile(float metres, int size)
{
    GDALAllRegister();
    const char* path = "/vsimem/terrain_net_height.tif";
    GDALDataset* ds =
        GetGDALDriverManager()->GetDriverByName("GTiff")->Create(path, size, size, 1, GDT_Float32, nullptr);
    std::vector<float> values(size_t(size) * size, metres);
    const CPLErr written =
        ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, size, size, values.data(), size, size, GDT_Float32, 0, 0);
    GDALClose(ds);
    vsi_l_offset length = 0;
    GByte* bytes = VSIGetMemFileBuffer(path, &length, TRUE);
    std::string result = written == CE_None ? std::string(reinterpret_cast<char*>(bytes), size_t(length)) : "";
    CPLFree(bytes);
    return result;
}

osg::Vec3d firstPost(MapNode& mapNode, const std::string& key)
{
    osg::MatrixTransform* tile = findTile(mapNode.getTerrainEngine(), key);
    auto* geometry = tile ? dynamic_cast<osg::Geometry*>(tileGeode(mapNode, key)->getDrawable(0)) : nullptr;
    auto* vertices = geometry ? dynamic_cast<osg::Vec3Array*>(geometry->getVertexArray()) : nullptr;
    return vertices ? osg::Vec3d((*vertices)[8]) + tile->getMatrix().getTrans() : osg::Vec3d();
}

} // namespace

TEST(TerrainNet, TmsElevationTilesRaiseThePosts)
{
    std::string tileMap = kGeodeticTileMap;
    tileMap.replace(tileMap.find("width=\"256\" height=\"256\" mime-type=\"image/png\" extension=\"png\""), 62,
                    "width=\"16\" height=\"16\" mime-type=\"image/tiff\" extension=\"tif\"");
    const std::string tile = heightTile(1000.0f, 16);
    ASSERT_FALSE(tile.empty());
    LoopbackHttpServer server([&](const HttpRequest& request) {
        HttpResponse response;
        response.body = endsWith(request.target, ".xml") ? tileMap : tile;
        return response;
    });

    osg::ref_ptr<MapNode> flat = new MapNode(makeNetMap());
    osg::ref_ptr<Map> map = makeNetMap();
    map->addElevationLayer(
        ElevationLayerOptions(ConfigOptions(layerConfig("elevation", "dem", "tms", server.url("/dem")))));
    osg::ref_ptr<MapNode> raised = new MapNode(map.get());

    const osg::Vec3d low = firstPost(*flat, "1/1/0"), high = firstPost(*raised, "1/1/0");
    ASSERT_GT(low.length(), 6e6);
    EXPECT_NEAR(high.length() - low.length(), 1000.0, 1.0);
    EXPECT_GT(server.requestCount(), 1u);
}
