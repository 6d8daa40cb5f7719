#include "FeatureTestSupport.h"
#include "LoopbackHttp.h"
#include "NotifyCapture.h"
#include "TempDir.h"

#include <osgEarthDrivers/feature_ogr/OGRFeatureOptions>
#include <osgEarthDrivers/feature_tfs/TFSFeatureOptions>
#include <osgEarthFeatures/FeatureSource>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace osgEarth;
using namespace osgEarth::Features;
using osgEarth::Drivers::OGRFeatureOptions;
using osgEarth::Drivers::TFSFeatureOptions;
using veltra::test::HttpRequest;
using veltra::test::HttpResponse;
using veltra::test::LoopbackHttpServer;
using veltra::test::NotifyCapture;
using veltra::test::TempDir;

namespace {

osg::ref_ptr<FeatureSource> openSource(const FeatureSourceOptions& options)
{
    osg::ref_ptr<FeatureSource> source = FeatureSourceFactory::create(options);
    if (source)
    {
        source->initialize();
    }
    return source;
}

void expectExtent(const GeoExtent& extent, double west, double south, double east, double north, double tolerance)
{
    EXPECT_NEAR(extent.west(), west, tolerance);
    EXPECT_NEAR(extent.south(), south, tolerance);
    EXPECT_NEAR(extent.east(), east, tolerance);
    EXPECT_NEAR(extent.north(), north, tolerance);
}

// ---------------------------------------------------------------------------------------------------------------
// Factory and options

TEST(FeatureSourceFactoryTest, UnknownOrEmptyDriversGiveNullWithAWarning)
{
    for (const char* driver : {"", "wfs", "osgearth_feature_tfs", "  "})
    {
        SCOPED_TRACE(driver);
        Config conf("features");
        conf.add("driver", driver);
        NotifyCapture capture(osg::WARN);
        osg::ref_ptr<FeatureSource> source = FeatureSourceFactory::create(FeatureSourceOptions(ConfigOptions(conf)));
        EXPECT_FALSE(source.valid());
        EXPECT_TRUE(capture.contains("FeatureSourceFactory"));
    }
}

TEST(FeatureSourceFactoryTest, SourcesAreNamedAfterTheNameElseTheDriver)
{
    struct Case
    {
        const char* driver;
        const char* name; // null: no name key
        const char* expected;
    };
    for (const Case& c : {Case{"tfs", nullptr, "tfs"}, Case{"TFS", "roads", "roads"}, Case{"ogr", "", "ogr"},
                          Case{"ogr", "parcels", "parcels"}})
    {
        Config conf("features");
        conf.add("driver", c.driver);
        if (c.name)
        {
            conf.add("name", c.name);
        }
        osg::ref_ptr<FeatureSource> source = FeatureSourceFactory::create(FeatureSourceOptions(ConfigOptions(conf)));
        ASSERT_TRUE(source.valid()) << c.driver;
        EXPECT_EQ(source->getName(), c.expected);
        EXPECT_EQ(source->getFeatureProfile(), nullptr) << "not opened yet";
    }
}

TEST(FeatureSourceOptionsTest, TfsOptionsDefaultsAndRoundTrip)
{
    TFSFeatureOptions empty;
    EXPECT_EQ(empty.getDriver(), "tfs");
    EXPECT_FALSE(empty.url().isSet());
    EXPECT_FALSE(empty.format().isSet());
    EXPECT_EQ(empty.format().get(), "json");
    EXPECT_FALSE(empty.getConfig().hasChild("format"));

    TFSFeatureOptions options;
    options.name() = "roads";
    options.url() = "http://host/tfs/1/";
    options.format() = "gml";
    options.invertY() = true;
    options.maxLevel() = 7;
    options.fidAttribute() = "osm_id";
    Config profile("profile");
    profile.add("srs", "epsg:4326");
    options.profile() = profile;

    // Through the base type, as a model source keeps it, and back.
    const FeatureSourceOptions base = options;
    const TFSFeatureOptions back(base);
    EXPECT_EQ(back.getDriver(), "tfs");
    EXPECT_EQ(back.name().get(), "roads");
    EXPECT_EQ(back.url().get(), "http://host/tfs/1/");
    EXPECT_EQ(back.format().get(), "gml");
    EXPECT_TRUE(back.invertY().get());
    EXPECT_EQ(back.maxLevel().get(), 7);
    EXPECT_FALSE(back.minLevel().isSet());
    EXPECT_EQ(back.fidAttribute().get(), "osm_id");
    ASSERT_TRUE(back.profile().isSet());
    EXPECT_EQ(back.profile()->value("srs"), "epsg:4326");
}

TEST(FeatureSourceOptionsTest, OgrOptionsReadTheUrl)
{
    Config conf("features");
    conf.add("driver", "ogr");
    conf.add("url", "data/parcels.shp");
    const OGRFeatureOptions options{ConfigOptions(conf)};
    EXPECT_EQ(options.getDriver(), "ogr");
    EXPECT_EQ(options.url().get(), "data/parcels.shp");
    EXPECT_EQ(OGRFeatureOptions().getDriver(), "ogr");
}

// ---------------------------------------------------------------------------------------------------------------
// TFS

TEST(TfsFeatureSourceTest, WithoutUrlIsAnEmptyUntiledWholeWorld)
{
    osg::ref_ptr<FeatureSource> source = FeatureSourceFactory::create(TFSFeatureOptions());
    ASSERT_TRUE(source.valid());
    EXPECT_TRUE(source->initialize());
    EXPECT_TRUE(source->open()) << "opening again keeps the result";
    const FeatureProfile* profile = source->getFeatureProfile();
    ASSERT_NE(profile, nullptr);
    EXPECT_FALSE(profile->getTiled());
    EXPECT_EQ(profile->getProfile(), nullptr);
    ASSERT_NE(profile->getSRS(), nullptr);
    EXPECT_TRUE(profile->getSRS()->isGeographic());
    expectExtent(profile->getExtent(), -180, -90, 180, 90, 0.0);

    FeatureList features;
    EXPECT_TRUE(source->getFeatures(features));
    EXPECT_TRUE(features.empty());
    EXPECT_FALSE(source->getFeatures(0, 0, 0, features)) << "an untiled source has no tiles";
}

const char* const goodMetadata = R"(<?xml version="1.0"?>
<Layer>
  <Title>Roads</Title><Abstract>test roads</Abstract>
  <FirstLevel>1</FirstLevel><MaxLevel>3</MaxLevel>
  <SRS>EPSG:4326</SRS>
  <BoundingBox minx="10" miny="40" maxx="20" maxy="50"/>
</Layer>)";

// A tile's single feature has the id 1000·lod + 100·x + row, with the row taken from the URL as asked.
std::string tileFeature(unsigned lod, unsigned x, unsigned row)
{
    return R"({"type":"FeatureCollection","features":[{"type":"Feature","id":)" +
           std::to_string(1000 * lod + 100 * x + row) +
           R"(,"properties":{"kind":"road"},"geometry":{"type":"LineString","coordinates":[[11,41],[12,42]]}}]})";
}

class TfsServerTest : public ::testing::Test
{
protected:
    std::string metadata = goodMetadata;
    LoopbackHttpServer server{[this](const HttpRequest& request) { return serve(request); }};

    HttpResponse serve(const HttpRequest& request) const
    {
        HttpResponse response;
        unsigned lod = 0, x = 0, row = 0;
        char tail = 0;
        if (request.target == "/tfs/roads/metadata.xml")
        {
            response.body = metadata;
        }
        else if (std::sscanf(request.target.c_str(), "/tfs/roads/%u/%u/%u.json%c", &lod, &x, &row, &tail) == 3 &&
                 !(lod == 3 && x == 0 && row == 0))
        {
            response.body = tileFeature(lod, x, row);
        }
        else
        {
            response.status = 404;
        }
        return response;
    }

    osg::ref_ptr<FeatureSource> open(bool invertY = false)
    {
        TFSFeatureOptions options;
        options.url() = server.url("/tfs/roads/metadata.xml");
        if (invertY)
        {
            options.invertY() = true;
        }
        return openSource(options);
    }

    std::vector<std::string> targets() const
    {
        std::vector<std::string> out;
        for (const HttpRequest& request : server.requests())
        {
            out.push_back(request.target);
        }
        return out;
    }
};

TEST_F(TfsServerTest, MetadataGivesATiledProfileOverTheBoundingBox)
{
    osg::ref_ptr<FeatureSource> source = open();
    ASSERT_TRUE(source.valid());
    const FeatureProfile* profile = source->getFeatureProfile();
    ASSERT_NE(profile, nullptr);
    EXPECT_TRUE(profile->getTiled());
    EXPECT_EQ(profile->getFirstLevel(), 1);
    EXPECT_EQ(profile->getMaxLevel(), 3);
    expectExtent(profile->getExtent(), 10, 40, 20, 50, 0.0);
    ASSERT_NE(profile->getProfile(), nullptr);
    EXPECT_EQ(profile->getProfile()->getNumTilesWideAtLod0(), 1u);
    EXPECT_EQ(profile->getProfile()->getNumTilesHighAtLod0(), 1u);
    expectExtent(profile->getProfile()->getExtent(), 10, 40, 20, 50, 0.0);
    EXPECT_EQ(targets(), std::vector<std::string>{"/tfs/roads/metadata.xml"});

    FeatureList all;
    EXPECT_FALSE(source->getFeatures(all)) << "a tiled source is read by tile";
}

TEST_F(TfsServerTest, TilesAreFetchedUnderTheUrlsFolderWithRowsFromTheSouth)
{
    struct Case
    {
        bool invertY;
        unsigned lod, x, y;
        std::string target;
    };
    const std::vector<Case> cases = {
        {false, 1, 0, 0, "/tfs/roads/1/0/0.json"},
        {false, 2, 1, 3, "/tfs/roads/2/1/3.json"},
        {false, 2, 3, 0, "/tfs/roads/2/3/0.json"},
        {true, 2, 1, 0, "/tfs/roads/2/1/3.json"},
        {true, 1, 1, 1, "/tfs/roads/1/1/0.json"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.target);
        osg::ref_ptr<FeatureSource> source = open(c.invertY);
        ASSERT_TRUE(source.valid() && source->getFeatureProfile());
        const size_t before = server.requestCount();
        FeatureList features;
        ASSERT_TRUE(source->getFeatures(c.lod, c.x, c.y, features));
        ASSERT_EQ(server.requestCount(), before + 1);
        EXPECT_EQ(server.requests().back().target, c.target);
        ASSERT_EQ(features.size(), 1u);
        unsigned lod = 0, x = 0, row = 0;
        ASSERT_EQ(std::sscanf(c.target.c_str(), "/tfs/roads/%u/%u/%u", &lod, &x, &row), 3);
        EXPECT_EQ(features.front()->getFID(), 1000u * lod + 100u * x + row);
        EXPECT_EQ(features.front()->getString("kind"), "road");
        ASSERT_NE(features.front()->getGeometry(), nullptr);
    }
}

TEST_F(TfsServerTest, TilesOutsideTheTilingOrMissingGiveNothing)
{
    osg::ref_ptr<FeatureSource> source = open();
    ASSERT_TRUE(source.valid() && source->getFeatureProfile());
    const size_t before = server.requestCount();
    FeatureList features;
    EXPECT_FALSE(source->getFeatures(1, 2, 0, features));
    EXPECT_FALSE(source->getFeatures(1, 0, 2, features));
    EXPECT_FALSE(source->getFeatures(31, 0, 0, features));
    EXPECT_FALSE(source->getFeatures(~0u, 0, 0, features));
    EXPECT_EQ(server.requestCount(), before) << "refused without asking the server";

    EXPECT_FALSE(source->getFeatures(3, 0, 0, features)) << "the server has no such tile";
    EXPECT_TRUE(features.empty());
}

TEST_F(TfsServerTest, UnusableMetadataLeavesNoProfile)
{
    const std::vector<std::string> documents = {
        "",
        "not xml at all <",
        "<Other><BoundingBox minx='0' miny='0' maxx='1' maxy='1'/></Other>",
        "<Layer><Title>no box</Title></Layer>",
        "<Layer><BoundingBox minx='0' miny='0' maxx='1'/></Layer>",
        "<Layer><BoundingBox minx='5' miny='0' maxx='1' maxy='1'/></Layer>",
        "<Layer><BoundingBox minx='a' miny='0' maxx='1' maxy='1'/></Layer>",
        "<Layer><BoundingBox minx='0' miny='0' maxx='inf' maxy='1'/></Layer>",
        "<Layer><SRS>EPSG:bogus</SRS><BoundingBox minx='0' miny='0' maxx='1' maxy='1'/></Layer>",
        "<Layer><FirstLevel>4</FirstLevel><MaxLevel>2</MaxLevel><BoundingBox minx='0' miny='0' maxx='1' "
        "maxy='1'/></Layer>",
        "<Layer><MaxLevel>-1</MaxLevel><BoundingBox minx='0' miny='0' maxx='1' maxy='1'/></Layer>",
        "<Layer><MaxLevel>99999999999</MaxLevel><BoundingBox minx='0' miny='0' maxx='1' maxy='1'/></Layer>",
    };
    for (const std::string& document : documents)
    {
        SCOPED_TRACE(document);
        metadata = document;
        NotifyCapture capture(osg::WARN);
        osg::ref_ptr<FeatureSource> source = open();
        ASSERT_TRUE(source.valid());
        EXPECT_FALSE(source->initialize());
        EXPECT_EQ(source->getFeatureProfile(), nullptr);
        EXPECT_TRUE(capture.contains("[TFS]"));
        FeatureList features;
        EXPECT_FALSE(source->getFeatures(features));
        EXPECT_FALSE(source->getFeatures(0, 0, 0, features));
    }
}

TEST_F(TfsServerTest, AMissingMetadataDocumentLeavesNoProfile)
{
    TFSFeatureOptions options;
    options.url() = server.url("/tfs/absent/metadata.xml");
    NotifyCapture capture(osg::WARN);
    osg::ref_ptr<FeatureSource> source = openSource(options);
    ASSERT_TRUE(source.valid());
    EXPECT_EQ(source->getFeatureProfile(), nullptr);
    EXPECT_TRUE(capture.contains("[TFS]"));
}

TEST_F(TfsServerTest, MetadataWithoutLevelsOrSrsTakesTheDefaults)
{
    metadata = "<Layer><BoundingBox minx='-10' miny='-5' maxx='10' maxy='5'/></Layer>";
    TFSFeatureOptions options;
    options.url() = server.url("/tfs/roads/metadata.xml");
    options.minLevel() = 2;
    options.maxLevel() = 4;
    osg::ref_ptr<FeatureSource> source = openSource(options);
    ASSERT_TRUE(source.valid());
    const FeatureProfile* profile = source->getFeatureProfile();
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile->getFirstLevel(), 2);
    EXPECT_EQ(profile->getMaxLevel(), 4);
    ASSERT_NE(profile->getSRS(), nullptr);
    EXPECT_TRUE(profile->getSRS()->isGeographic());
}

// ---------------------------------------------------------------------------------------------------------------
// OGR

const char* const twoFeatures = R"({"type":"FeatureCollection","features":[
  {"type":"Feature","id":7,"properties":{"name":"gate","height":4.5},
   "geometry":{"type":"Point","coordinates":[2.0,48.0]}},
  {"type":"Feature","id":9,"properties":{"name":"wall","lanes":2},
   "geometry":{"type":"LineString","coordinates":[[1.0,47.0],[3.0,49.5]]}}]})";

osg::ref_ptr<FeatureSource> openOgr(const std::string& url, const std::string& referrer = "")
{
    Config conf("features");
    conf.add("driver", "ogr");
    conf.add("url", url);
    if (!referrer.empty())
    {
        conf.setReferrer(referrer);
    }
    return openSource(OGRFeatureOptions(ConfigOptions(conf)));
}

TEST(OgrFeatureSourceTest, ReadsAllFeaturesOfALocalFileUntiled)
{
    TempDir dir;
    const std::string path = dir.write("parcels.geojson", twoFeatures);
    // The same file by absolute path and by a path relative to the earth file that names it.
    for (osg::ref_ptr<FeatureSource> source :
         {openOgr(path), openOgr("parcels.geojson", dir.file("scene.earth"))})
    {
        ASSERT_TRUE(source.valid());
        const FeatureProfile* profile = source->getFeatureProfile();
        ASSERT_NE(profile, nullptr);
        EXPECT_FALSE(profile->getTiled());
        EXPECT_TRUE(profile->getSRS()->isGeographic());
        expectExtent(profile->getExtent(), 1.0, 47.0, 3.0, 49.5, 1e-9);

        FeatureList features;
        ASSERT_TRUE(source->getFeatures(features));
        ASSERT_EQ(features.size(), 2u);
        const Feature& gate = *features.front();
        const Feature& wall = *features.back();
        EXPECT_EQ(gate.getFID(), 7u);
        EXPECT_EQ(wall.getFID(), 9u);
        EXPECT_EQ(gate.getString("name"), "gate");
        EXPECT_DOUBLE_EQ(gate.getDouble("height"), 4.5);
        EXPECT_EQ(wall.getInt("lanes"), 2);
        ASSERT_NE(wall.getGeometry(), nullptr);
        EXPECT_EQ(wall.getGeometry()->size(), 2u);
        EXPECT_FALSE(source->getFeatures(0, 0, 0, features));

        FeatureList again;
        ASSERT_TRUE(source->getFeatures(again));
        EXPECT_EQ(again.size(), 2u) << "queries repeat";
    }
}

TEST(OgrFeatureSourceTest, ReprojectsOtherSystemsToWgs84)
{
    TempDir dir;
    // Web mercator metres; 111319.49 m east of the origin is one degree of longitude.
    const std::string path = dir.write("mercator.geojson", R"({"type":"FeatureCollection",
      "crs":{"type":"name","properties":{"name":"urn:ogc:def:crs:EPSG::3857"}},
      "features":[{"type":"Feature","properties":{},"geometry":{"type":"LineString",
        "coordinates":[[0,0],[111319.490793,111325.142866]]}}]})");
    osg::ref_ptr<FeatureSource> source = openOgr(path);
    ASSERT_TRUE(source.valid());
    const FeatureProfile* profile = source->getFeatureProfile();
    ASSERT_NE(profile, nullptr);
    expectExtent(profile->getExtent(), 0.0, 0.0, 1.0, 1.0, 1e-4);
    FeatureList features;
    ASSERT_TRUE(source->getFeatures(features));
    ASSERT_EQ(features.size(), 1u);
    const osg::Vec3d end = (*features.front()->getGeometry())[1];
    EXPECT_NEAR(end.x(), 1.0, 1e-4);
    EXPECT_NEAR(end.y(), 1.0, 1e-4);
}

TEST(OgrFeatureSourceTest, UnusableFeaturesAreSkippedAndEmptyFilesCoverTheWorld)
{
    TempDir dir;
    NotifyCapture capture(osg::WARN);
    osg::ref_ptr<FeatureSource> mixed = openOgr(dir.write("mixed.geojson", R"({"type":"FeatureCollection",
      "features":[{"type":"Feature","properties":{},"geometry":null},
                  {"type":"Feature","properties":{},"geometry":{"type":"Point","coordinates":[5,6]}}]})"));
    ASSERT_TRUE(mixed.valid() && mixed->getFeatureProfile());
    FeatureList features;
    ASSERT_TRUE(mixed->getFeatures(features));
    EXPECT_EQ(features.size(), 1u);
    EXPECT_TRUE(capture.contains("skipped 1"));

    osg::ref_ptr<FeatureSource> empty =
        openOgr(dir.write("empty.geojson", R"({"type":"FeatureCollection","features":[]})"));
    ASSERT_TRUE(empty.valid() && empty->getFeatureProfile());
    expectExtent(empty->getFeatureProfile()->getExtent(), -180, -90, 180, 90, 0.0);
}

TEST(OgrFeatureSourceTest, UnreadablePathsLeaveNoProfile)
{
    TempDir dir;
    const std::vector<std::string> paths = {
        "",
        dir.file("absent.geojson"),
        dir.write("garbage.geojson", "{\"type\":\"FeatureCollection\",\"features\":[{"),
        dir.write("binary.shp", std::string("\x00\x01\x02\x03garbage", 11)),
        "http://127.0.0.1:1/x.geojson",
        "/vsicurl/http://127.0.0.1:1/x.geojson",
    };
    for (const std::string& path : paths)
    {
        SCOPED_TRACE(path);
        NotifyCapture capture(osg::WARN);
        osg::ref_ptr<FeatureSource> source = openOgr(path);
        ASSERT_TRUE(source.valid());
        EXPECT_EQ(source->getFeatureProfile(), nullptr);
        EXPECT_TRUE(capture.contains("[OGR]"));
        FeatureList features;
        EXPECT_FALSE(source->getFeatures(features));
    }
}

TEST(OgrFeatureSourceTest, ReadsSampleDataWhenPresent)
{
    const std::filesystem::path folder = featuretest::sampleGeoData();
    struct Case
    {
        const char* file;
        size_t count;
        double west, south, east, north, tolerance;
    };
    const std::vector<Case> cases = {
        {"ne_110m_admin_0_countries.geojson", 177, -180.0, -90.0, 180.0, 83.7, 0.5},
        {"kirchberg_iller_roads.geojson", 14, 10.0695, 48.135, 10.0715, 48.137, 0.003},
    };
    bool any = false;
    for (const Case& c : cases)
    {
        const std::filesystem::path path = folder / c.file;
        if (!std::filesystem::exists(path))
        {
            continue;
        }
        any = true;
        SCOPED_TRACE(c.file);
        osg::ref_ptr<FeatureSource> source = openOgr(path.string());
        ASSERT_TRUE(source.valid() && source->getFeatureProfile());
        expectExtent(source->getFeatureProfile()->getExtent(), c.west, c.south, c.east, c.north, c.tolerance);
        FeatureList features;
        ASSERT_TRUE(source->getFeatures(features));
        EXPECT_EQ(features.size(), c.count);
    }
    if (!any)
    {
        GTEST_SKIP() << "sample vector data not present";
    }
}

} // namespace
