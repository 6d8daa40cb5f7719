#include <osgEarth/Viewpoint>

#include <gtest/gtest.h>

using namespace osgEarth;

namespace {

Config fromJSON(const std::string& text)
{
    Config conf;
    EXPECT_TRUE(conf.fromJSON(text)) << text;
    return conf;
}

} // namespace

TEST(Viewpoint, DefaultIsInvalidWithUnitRange)
{
    Viewpoint vp;
    EXPECT_FALSE(vp.isValid());
    EXPECT_EQ(vp.getHeading(), 0.0);
    EXPECT_EQ(vp.getPitch(), 0.0);
    EXPECT_EQ(vp.getRange(), 1.0);
    EXPECT_EQ(vp.getSRS(), nullptr);
    const Config conf = vp.getConfig();
    EXPECT_EQ(conf.key(), "viewpoint");
    EXPECT_TRUE(conf.children().empty()) << "an invalid viewpoint writes nothing but its key";
}

TEST(Viewpoint, GeographicConfigMatchesTheKnownJson)
{
    Viewpoint vp(151.2093, -33.8688, 0.0, 0.0, -45.0, 5000.0, SpatialReference::create("wgs84"));
    ASSERT_TRUE(vp.isValid());
    EXPECT_EQ(vp.getConfig().toJSON(false),
              "{\"viewpoint\":{\"heading\":\"0\",\"height\":\"0\",\"lat\":\"-33.8688\",\"long\":\"151.2093\","
              "\"pitch\":\"-45\",\"range\":\"5000\",\"srs\":\"wgs84\"}}\n");

    // Written in the documented order: lat, long, height before the angles, srs last.
    std::vector<std::string> keys;
    const Config written = vp.getConfig();
    for (const Config& child : written.children())
        keys.push_back(child.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"lat", "long", "height", "heading", "pitch", "range", "srs"}));
}

TEST(Viewpoint, ConfigRoundTripsKeepEveryValue)
{
    Viewpoint named("Harbour", osg::Vec3d(116.391, 39.907, 45.5), 33.25, -60.0, 1234.5678,
                    SpatialReference::create("epsg:4326"));
    Viewpoint back(named.getConfig());
    ASSERT_TRUE(back.isValid());
    EXPECT_EQ(back.getName(), "Harbour");
    EXPECT_DOUBLE_EQ(back.x(), 116.391);
    EXPECT_DOUBLE_EQ(back.y(), 39.907);
    EXPECT_DOUBLE_EQ(back.z(), 45.5);
    EXPECT_DOUBLE_EQ(back.getHeading(), 33.25);
    EXPECT_DOUBLE_EQ(back.getPitch(), -60.0);
    EXPECT_DOUBLE_EQ(back.getRange(), 1234.5678);
    ASSERT_NE(back.getSRS(), nullptr);
    EXPECT_TRUE(back.getSRS()->isGeographic());

    // Without an SRS the focal point is x/y/z and no srs is written or invented on reading.
    Viewpoint bare(1.0, 2.0, 3.0, 10.0, -20.0, 30.0);
    const Config conf = bare.getConfig();
    EXPECT_TRUE(conf.hasChild("x"));
    EXPECT_FALSE(conf.hasChild("lat"));
    EXPECT_FALSE(conf.hasChild("srs"));
    Viewpoint bareBack(conf);
    EXPECT_EQ(bareBack.getSRS(), nullptr);
    EXPECT_EQ(bareBack.getFocalPoint(), osg::Vec3d(1.0, 2.0, 3.0));

    // Through JSON text and back, as pages store viewpoints.
    Viewpoint viaJson(fromJSON(named.getConfig().toJSON(true)));
    EXPECT_EQ(viaJson.getConfig().toJSON(false), named.getConfig().toJSON(false));
}

TEST(Viewpoint, ReadingFollowsTheKeysPresent)
{
    // long/lat/height without srs means WGS84; other keys (time) are ignored.
    Viewpoint geographic(fromJSON(R"({"long":"111.5","lat":"31.7","height":"10","pitch":"-30","range":"800",
                                      "time":"2026-01-01"})"));
    ASSERT_TRUE(geographic.isValid());
    ASSERT_NE(geographic.getSRS(), nullptr);
    EXPECT_EQ(geographic.getSRS()->getHorizInitString(), "wgs84");
    EXPECT_DOUBLE_EQ(geographic.x(), 111.5);
    EXPECT_DOUBLE_EQ(geographic.getHeading(), 0.0) << "a missing heading reads as 0";

    // x wins over lat when both are present; missing parts are 0.
    Viewpoint cartesian(fromJSON(R"({"x":"5","lat":"9","range":"1"})"));
    EXPECT_EQ(cartesian.getFocalPoint(), osg::Vec3d(5.0, 0.0, 0.0));
    EXPECT_EQ(cartesian.getSRS(), nullptr);

    // A position without a positive range is not a viewpoint.
    EXPECT_FALSE(Viewpoint(fromJSON(R"({"long":"1","lat":"2"})")).isValid());
    EXPECT_FALSE(Viewpoint(fromJSON(R"({"long":"1","lat":"2","range":"-5"})")).isValid());
    EXPECT_FALSE(Viewpoint(fromJSON(R"({"long":"1","lat":"2","range":"far"})")).isValid());

    // An srs that is not understood leaves the viewpoint without one rather than failing.
    Viewpoint unknownSrs(fromJSON(R"({"x":"1","range":"10","srs":"no-such-system"})"));
    EXPECT_TRUE(unknownSrs.isValid());
    EXPECT_EQ(unknownSrs.getSRS(), nullptr);
}

TEST(Viewpoint, UnitsOnAnglesAndRangesAreApplied)
{
    Viewpoint vp(fromJSON(R"({"long":"0","lat":"0","heading":"0.5rad","pitch":"-45deg","range":"5km"})"));
    EXPECT_NEAR(vp.getHeading(), 28.6478897565, 1e-9);
    EXPECT_DOUBLE_EQ(vp.getPitch(), -45.0);
    EXPECT_DOUBLE_EQ(vp.getRange(), 5000.0);
    EXPECT_DOUBLE_EQ(Viewpoint(fromJSON(R"({"x":"0","range":"2 mi"})")).getRange(), 3218.688);
    EXPECT_DOUBLE_EQ(Viewpoint(fromJSON(R"({"x":"0","range":"5000m"})")).getRange(), 5000.0);
    EXPECT_DOUBLE_EQ(Viewpoint(fromJSON(R"({"x":"0","range":"12parsecs"})")).getRange(), 12.0)
        << "an unknown suffix is ignored, as plain numbers allow";
}
