#include <osgEarth/GeoData>
#include <osgEarth/Profile>
#include <osgEarth/SpatialReference>
#include <osgEarth/TileKey>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

using namespace osgEarth;

namespace {

constexpr double kEquator = 6378137.0;
constexpr double kPolar = 6356752.3142;
constexpr double kMercatorHalfWorld = 20037508.34278925;

const SpatialReference* wgs84()
{
    return SpatialReference::create("wgs84");
}

void expectVec(const osg::Vec3d& actual, const osg::Vec3d& expected, double tolerance)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance);
    EXPECT_NEAR(actual.y(), expected.y(), tolerance);
    EXPECT_NEAR(actual.z(), expected.z(), tolerance);
}

osg::Vec3d row(const osg::Matrixd& m, int r)
{
    return osg::Vec3d(m(r, 0), m(r, 1), m(r, 2));
}

} // namespace

TEST(SpatialReferenceTest, CacheIsCaseInsensitiveAndSharesObjects)
{
    SpatialReference* lower = SpatialReference::create("wgs84");
    ASSERT_NE(lower, nullptr);
    EXPECT_EQ(SpatialReference::create("WGS84"), lower);
    EXPECT_EQ(SpatialReference::get(" Wgs84 "), lower);
    EXPECT_EQ(SpatialReference::create("wgs84", "NONE"), lower);
    // Known names read back canonically whoever created them first; other texts as first passed.
    EXPECT_EQ(SpatialReference::create(" EPSG:4326")->getHorizInitString(), "epsg:4326");
    const std::string proj = "+proj=longlat +ellps=GRS80 +no_defs";
    SpatialReference* grs80 = SpatialReference::create(proj);
    ASSERT_NE(grs80, nullptr);
    EXPECT_EQ(grs80->getHorizInitString(), proj);
    EXPECT_EQ(SpatialReference::create("+PROJ=LONGLAT +ELLPS=GRS80 +NO_DEFS"), grs80);
    // A vertical datum is a different cache entry, but the same horizontal system.
    SpatialReference* withGeoid = SpatialReference::create("wgs84", "egm96");
    ASSERT_NE(withGeoid, nullptr);
    EXPECT_NE(withGeoid, lower);
    EXPECT_EQ(withGeoid->getVertInitString(), "egm96");
    EXPECT_TRUE(withGeoid->isGeographic());
}

TEST(SpatialReferenceTest, UnknownInitTextsGiveNull)
{
    EXPECT_EQ(SpatialReference::create(""), nullptr);
    EXPECT_EQ(SpatialReference::create("   "), nullptr);
    EXPECT_EQ(SpatialReference::create("not-a-coordinate-system"), nullptr);
    EXPECT_EQ(SpatialReference::create("epsg:99999999"), nullptr);
    // Init texts must not be read as file names or URLs.
    EXPECT_EQ(SpatialReference::create("/etc/hostname"), nullptr);
    EXPECT_EQ(SpatialReference::create("http://127.0.0.1:1/srs.wkt"), nullptr);
}

TEST(SpatialReferenceTest, RecognisesKindsOfSystem)
{
    const struct
    {
        const char* init;
        bool geographic, projected, ecef, mercator, spherical, plateCarre;
    } cases[] = {
        {"wgs84", true, false, false, false, false, false},
        {"spherical-mercator", false, true, false, true, true, false},
        {"epsg:900913", false, true, false, true, true, false},
        {"EPSG:3785", false, true, false, true, true, false},
        {"epsg:102113", false, true, false, true, true, false},
        {"plate-carre", false, true, false, false, false, true},
        {"epsg:3395", false, true, false, true, false, false},   // mercator on the ellipsoid
        {"epsg:32633", false, true, false, false, false, false}, // transverse mercator is not "mercator"
        {"geocentric", false, false, true, false, false, false},
    };
    for (const auto& c : cases)
    {
        const SpatialReference* srs = SpatialReference::create(c.init);
        ASSERT_NE(srs, nullptr) << c.init;
        EXPECT_EQ(srs->isGeographic(), c.geographic) << c.init;
        EXPECT_EQ(srs->isProjected(), c.projected) << c.init;
        EXPECT_EQ(srs->isECEF(), c.ecef) << c.init;
        EXPECT_EQ(srs->isMercator(), c.mercator) << c.init;
        EXPECT_EQ(srs->isSphericalMercator(), c.spherical) << c.init;
        EXPECT_EQ(srs->isPlateCarre(), c.plateCarre) << c.init;
        // The mercator sphere is only projection arithmetic: the world underneath is still WGS84.
        EXPECT_DOUBLE_EQ(srs->getEllipsoid()->getRadiusEquator(), kEquator) << c.init;
        EXPECT_DOUBLE_EQ(srs->getEllipsoid()->getRadiusPolar(), kPolar) << c.init;
    }
    EXPECT_EQ(wgs84()->getName(), "WGS84");
}

TEST(SpatialReferenceTest, EquivalenceAndDerivedSystems)
{
    const SpatialReference* geo = wgs84();
    EXPECT_TRUE(geo->isEquivalentTo(SpatialReference::create("epsg:4326")));
    EXPECT_TRUE(geo->isEquivalentTo(SpatialReference::create("+proj=longlat +datum=WGS84 +no_defs")));
    EXPECT_FALSE(geo->isEquivalentTo(SpatialReference::create("spherical-mercator")));
    EXPECT_FALSE(geo->isEquivalentTo(SpatialReference::create("geocentric")));
    EXPECT_FALSE(geo->isEquivalentTo(SpatialReference::create("epsg:4267"))); // NAD27: another datum
    EXPECT_FALSE(geo->isEquivalentTo(nullptr));
    EXPECT_FALSE(SpatialReference::create("epsg:32633")->isEquivalentTo(SpatialReference::create("epsg:32632")));

    EXPECT_EQ(geo->getGeographicSRS(), geo);
    EXPECT_TRUE(SpatialReference::create("spherical-mercator")->getGeographicSRS()->isEquivalentTo(geo));
    EXPECT_TRUE(SpatialReference::create("epsg:32633")->getGeographicSRS()->isEquivalentTo(geo));
    ASSERT_NE(geo->getECEF(), nullptr);
    EXPECT_TRUE(geo->getECEF()->isECEF());
    EXPECT_TRUE(geo->getECEF()->getGeographicSRS()->isEquivalentTo(geo));

    const SpatialReference* nad27 = SpatialReference::create("epsg:4267");
    ASSERT_NE(nad27, nullptr);
    EXPECT_NEAR(nad27->getEllipsoid()->getRadiusEquator(), 6378206.4, 1e-3); // Clarke 1866
    ASSERT_NE(nad27->getECEF(), nullptr);
    EXPECT_TRUE(nad27->getECEF()->isECEF());
}

TEST(SpatialReferenceThreads, ConcurrentCreationAndTransformsAgree)
{
    std::vector<const SpatialReference*> seen(8, nullptr);
    std::vector<osg::Vec3d> results(8);
    std::vector<std::thread> workers;
    for (size_t i = 0; i < seen.size(); ++i)
        workers.emplace_back([&, i] {
            seen[i] = SpatialReference::create("EPSG:32631");
            for (int n = 0; n < 50; ++n)
                wgs84()->transform(osg::Vec3d(3.0, 45.0, 0.0), seen[i], results[i]);
        });
    for (auto& worker : workers)
        worker.join();
    for (size_t i = 0; i < seen.size(); ++i)
    {
        EXPECT_EQ(seen[i], seen[0]);
        expectVec(results[i], results[0], 0.0);
    }
    EXPECT_NEAR(results[0].x(), 500000.0, 1e-6); // 3°E is zone 31's central meridian
}

TEST(SpatialReferenceWorldTest, KnownPointsThereAndBack)
{
    const SpatialReference* geo = wgs84();
    const std::pair<osg::Vec3d, osg::Vec3d> cases[] = {
        {{0.0, 0.0, 0.0}, {kEquator, 0.0, 0.0}},          {{0.0, 90.0, 0.0}, {0.0, 0.0, kPolar}},
        {{0.0, -90.0, 250.0}, {0.0, 0.0, -kPolar - 250}}, {{90.0, 0.0, 1000.0}, {0.0, kEquator + 1000.0, 0.0}},
        {{180.0, 0.0, 0.0}, {-kEquator, 0.0, 0.0}},
    };
    for (const auto& [lonLatHeight, expectedWorld] : cases)
    {
        osg::Vec3d world, back;
        double hae = -1.0;
        ASSERT_TRUE(geo->transformToWorld(lonLatHeight, world));
        expectVec(world, expectedWorld, 1e-3);
        ASSERT_TRUE(geo->transformFromWorld(expectedWorld, back, &hae));
        EXPECT_NEAR(back.y(), lonLatHeight.y(), 1e-6);
        EXPECT_NEAR(back.z(), lonLatHeight.z(), 1e-3);
        EXPECT_NEAR(hae, lonLatHeight.z(), 1e-3);
    }
}

TEST(SpatialReferenceWorldTest, RoundTripsAcrossTheGlobeIncludingNearPoles)
{
    const SpatialReference* geo = wgs84();
    const double latitudes[] = {-90.0, -89.9999999, -60.0, -1e-9, 0.0, 45.0, 89.99, 89.9999999, 90.0};
    const double heights[] = {-1000.0, 0.0, 1000.0, 35786000.0};
    for (double lat : latitudes)
        for (double lon = -180.0; lon < 180.0; lon += 45.0)
            for (double height : heights)
            {
                osg::Vec3d world, back;
                ASSERT_TRUE(geo->transformToWorld(osg::Vec3d(lon, lat, height), world));
                ASSERT_TRUE(geo->transformFromWorld(world, back));
                EXPECT_NEAR(back.y(), lat, 1e-6) << lon << ' ' << lat << ' ' << height;
                EXPECT_NEAR(back.z(), height, 1e-3) << lon << ' ' << lat << ' ' << height;
                if (std::fabs(lat) < 89.9) // longitude is undefined at the poles themselves
                {
                    EXPECT_NEAR(std::remainder(back.x() - lon, 360.0), 0.0, 1e-6) << lon << ' ' << lat;
                }
            }
}

TEST(SpatialReferenceWorldTest, BadInputFailsAndLeavesOutputUntouched)
{
    const SpatialReference* geo = wgs84();
    const SpatialReference* merc = SpatialReference::create("spherical-mercator");
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    osg::Vec3d out(7.0, 7.0, 7.0);
    EXPECT_FALSE(geo->transformToWorld(osg::Vec3d(0.0, 91.0, 0.0), out));
    EXPECT_FALSE(geo->transformToWorld(osg::Vec3d(nan, 0.0, 0.0), out));
    EXPECT_FALSE(geo->transformFromWorld(osg::Vec3d(nan, 0.0, 0.0), out));
    EXPECT_FALSE(geo->transform(osg::Vec3d(0.0, 0.0, 0.0), nullptr, out));
    EXPECT_FALSE(geo->transform(osg::Vec3d(inf, 0.0, 0.0), merc, out));
    EXPECT_FALSE(geo->transform(osg::Vec3d(0.0, 95.0, 0.0), SpatialReference::create("geocentric"), out));
    expectVec(out, osg::Vec3d(7.0, 7.0, 7.0), 0.0);

    // Projected coordinates are world coordinates already; equivalent systems pass points through untouched.
    double hae = 0.0;
    ASSERT_TRUE(merc->transformFromWorld(osg::Vec3d(4.0, 5.0, 6.0), out, &hae));
    expectVec(out, osg::Vec3d(4.0, 5.0, 6.0), 0.0);
    EXPECT_EQ(hae, 6.0);
    ASSERT_TRUE(geo->transform(osg::Vec3d(400.0, 12.0, 3.0), SpatialReference::create("epsg:4326"), out));
    expectVec(out, osg::Vec3d(400.0, 12.0, 3.0), 0.0);
}

TEST(SpatialReferenceTransformTest, ClosedFormProjections)
{
    const SpatialReference* geo = wgs84();
    const SpatialReference* merc = SpatialReference::create("spherical-mercator");
    double x = 0.0, y = 0.0;
    ASSERT_TRUE(geo->transform2D(180.0, 0.0, merc, x, y));
    EXPECT_NEAR(x, 20037508.34, 0.01);
    EXPECT_NEAR(y, 0.0, 1e-6);
    ASSERT_TRUE(geo->transform2D(-180.0, 85.05112877980659, merc, x, y));
    EXPECT_NEAR(x, -kMercatorHalfWorld, 1e-3);
    EXPECT_NEAR(y, kMercatorHalfWorld, 1e-3);
    // The pole lies at infinity: it is pinned to the projection's edge rather than failing or giving inf.
    ASSERT_TRUE(geo->transform2D(0.0, 90.0, merc, x, y));
    EXPECT_NEAR(y, kMercatorHalfWorld, 1e-3);

    osg::Vec3d there, back;
    ASSERT_TRUE(geo->transform(osg::Vec3d(12.5, 41.9, 30.0), merc, there));
    EXPECT_NEAR(there.z(), 30.0, 0.0);
    ASSERT_TRUE(merc->transform(there, geo, back));
    expectVec(back, osg::Vec3d(12.5, 41.9, 30.0), 1e-9);

    const SpatialReference* plate = SpatialReference::create("plate-carre");
    ASSERT_TRUE(geo->transform2D(180.0, 90.0, plate, x, y));
    EXPECT_NEAR(x, kMercatorHalfWorld, 1e-3);
    EXPECT_NEAR(y, kMercatorHalfWorld / 2.0, 1e-3);
    // Plate-carrée and spherical mercator meet through their shared geographic system.
    ASSERT_TRUE(plate->transform2D(kMercatorHalfWorld / 2.0, 0.0, merc, x, y));
    EXPECT_NEAR(x, kMercatorHalfWorld / 2.0, 1e-6);
    EXPECT_NEAR(y, 0.0, 1e-6);
}

TEST(SpatialReferenceTransformTest, ThroughGdalAndChained)
{
    const SpatialReference* geo = wgs84();
    const SpatialReference* utm = SpatialReference::create("epsg:32633");
    const SpatialReference* merc = SpatialReference::create("spherical-mercator");

    osg::Vec3d out;
    ASSERT_TRUE(geo->transform(osg::Vec3d(15.0, 0.0, 100.0), utm, out)); // zone 33's central meridian
    expectVec(out, osg::Vec3d(500000.0, 0.0, 100.0), 1e-3);

    osg::Vec3d fromGeo, fromMerc, back;
    ASSERT_TRUE(geo->transform(osg::Vec3d(16.37, 48.21, 0.0), utm, fromGeo));
    osg::Vec3d viaMerc;
    ASSERT_TRUE(geo->transform(osg::Vec3d(16.37, 48.21, 0.0), merc, viaMerc));
    ASSERT_TRUE(merc->transform(viaMerc, utm, fromMerc));
    expectVec(fromMerc, fromGeo, 1e-3);
    ASSERT_TRUE(utm->transform(fromGeo, geo, back));
    expectVec(back, osg::Vec3d(16.37, 48.21, 0.0), 1e-8);

    // Geographic to ECEF through transform() agrees with transformToWorld().
    osg::Vec3d ecefOut, world;
    ASSERT_TRUE(geo->transform(osg::Vec3d(-70.0, -33.0, 500.0), SpatialReference::create("geocentric"), ecefOut));
    ASSERT_TRUE(geo->transformToWorld(osg::Vec3d(-70.0, -33.0, 500.0), world));
    expectVec(ecefOut, world, 1e-6);
    // ... and ECEF reaches a projected system too.
    ASSERT_TRUE(SpatialReference::create("geocentric")->transform(world, merc, out));
    ASSERT_TRUE(geo->transform(osg::Vec3d(-70.0, -33.0, 500.0), merc, viaMerc));
    expectVec(out, viaMerc, 1e-3);
}

namespace {

// The frame at geodetic (lon, lat) written out from its definition: east, north = up × east, up, position.
void expectEnuFrame(const osg::Matrixd& m, double lonDeg, double latDeg, const osg::Vec3d& position)
{
    const double lon = osg::DegreesToRadians(lonDeg), lat = osg::DegreesToRadians(latDeg);
    const osg::Vec3d east(-std::sin(lon), std::cos(lon), 0.0);
    const osg::Vec3d up(std::cos(lon) * std::cos(lat), std::sin(lon) * std::cos(lat), std::sin(lat));
    const osg::Vec3d north(-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat));
    expectVec(row(m, 0), east, 1e-9);
    expectVec(row(m, 1), north, 1e-9);
    expectVec(row(m, 2), up, 1e-9);
    expectVec(m.getTrans(), position, 1e-3);
    EXPECT_EQ(m(0, 3), 0.0);
    EXPECT_EQ(m(3, 3), 1.0);
}

void expectExtent(const GeoExtent& e, double west, double south, double east, double north)
{
    ASSERT_TRUE(e.isValid());
    EXPECT_DOUBLE_EQ(e.west(), west);
    EXPECT_DOUBLE_EQ(e.south(), south);
    EXPECT_DOUBLE_EQ(e.east(), east);
    EXPECT_DOUBLE_EQ(e.north(), north);
}

} // namespace

TEST(GeoPointTest, LocalFrameAtKnownPoints)
{
    osg::Matrixd m;
    ASSERT_TRUE(GeoPoint(wgs84(), 0.0, 0.0, 0.0, ALTMODE_ABSOLUTE).createLocalToWorld(m));
    expectVec(row(m, 0), osg::Vec3d(0, 1, 0), 1e-12); // east
    expectVec(row(m, 1), osg::Vec3d(0, 0, 1), 1e-12); // north
    expectVec(row(m, 2), osg::Vec3d(1, 0, 0), 1e-12); // up
    expectVec(m.getTrans(), osg::Vec3d(kEquator, 0, 0), 1e-6);

    ASSERT_TRUE(GeoPoint(wgs84(), 90.0, 0.0, 0.0).createLocalToWorld(m));
    expectEnuFrame(m, 90.0, 0.0, osg::Vec3d(0.0, kEquator, 0.0));
    expectVec(row(m, 0), osg::Vec3d(-1, 0, 0), 1e-12);

    for (const osg::Vec3d& p :
         {osg::Vec3d(0.0, 89.9, 0.0), osg::Vec3d(-120.5, -33.3, 2500.0), osg::Vec3d(179, 60, -50)})
    {
        const GeoPoint point(wgs84(), p);
        osg::Vec3d world;
        ASSERT_TRUE(point.toWorld(world));
        ASSERT_TRUE(point.createLocalToWorld(m));
        expectEnuFrame(m, p.x(), p.y(), world);
    }

    // A projected map is flat: the frame is a pure translation.
    ASSERT_TRUE(GeoPoint(SpatialReference::create("spherical-mercator"), 1000.0, -2000.0, 50.0).createLocalToWorld(m));
    EXPECT_EQ(m, osg::Matrixd::translate(1000.0, -2000.0, 50.0));
}

TEST(GeoPointTest, LocalFrameFailsForRelativeOrInvalidPoints)
{
    const osg::Matrixd sentinel = osg::Matrixd::scale(2.0, 3.0, 4.0);
    osg::Matrixd m = sentinel;
    EXPECT_FALSE(GeoPoint(wgs84(), 10.0, 20.0).createLocalToWorld(m)); // two values: relative to the ground
    EXPECT_FALSE(GeoPoint(wgs84(), 10.0, 20.0, 5.0, ALTMODE_RELATIVE).createWorldToLocal(m));
    EXPECT_FALSE(GeoPoint().createLocalToWorld(m));
    EXPECT_FALSE(GeoPoint(nullptr, 1.0, 2.0, 3.0).createLocalToWorld(m));
    EXPECT_EQ(m, sentinel);

    osg::Vec3d world(9.0, 9.0, 9.0);
    EXPECT_FALSE(GeoPoint(wgs84(), 10.0, 20.0).toWorld(world));
    expectVec(world, osg::Vec3d(9.0, 9.0, 9.0), 0.0);
}

TEST(GeoPointTest, WorldToLocalInvertsTheFrame)
{
    const GeoPoint point(wgs84(), 30.0, 50.0, 100.0);
    osg::Matrixd toLocal, toWorld;
    ASSERT_TRUE(point.createWorldToLocal(toLocal));
    ASSERT_TRUE(point.createLocalToWorld(toWorld));
    osg::Vec3d world, above;
    ASSERT_TRUE(point.toWorld(world));
    ASSERT_TRUE(GeoPoint(wgs84(), 30.0, 50.0, 110.0).toWorld(above));
    expectVec(world * toLocal, osg::Vec3d(0, 0, 0), 1e-6);
    expectVec(above * toLocal, osg::Vec3d(0, 0, 10.0), 1e-6); // ten metres higher is ten metres up local Z
    expectVec(osg::Vec3d(3, -4, 5) * toWorld * toLocal, osg::Vec3d(3, -4, 5), 1e-6);
}

TEST(GeoPointTest, ConstructorsTransformsAndWorldRoundTrip)
{
    const GeoPoint relative(wgs84(), 1.0, 2.0);
    EXPECT_EQ(relative.altitudeMode(), ALTMODE_RELATIVE);
    EXPECT_EQ(relative.z(), 0.0);
    EXPECT_EQ(GeoPoint(wgs84(), osg::Vec3d(1, 2, 3)).altitudeMode(), ALTMODE_ABSOLUTE);
    EXPECT_FALSE(GeoPoint().isValid());

    const GeoPoint rome(wgs84(), 12.5, 41.9, 30.0);
    const GeoPoint inMercator(SpatialReference::create("spherical-mercator"), rome);
    ASSERT_TRUE(inMercator.isValid());
    EXPECT_TRUE(inMercator.getSRS()->isSphericalMercator());
    expectVec(inMercator.transform(wgs84()).vec3d(), rome.vec3d(), 1e-9);
    EXPECT_FALSE(rome.transform(nullptr).isValid());
    EXPECT_FALSE(GeoPoint(wgs84(), GeoPoint()).isValid());
    EXPECT_EQ(relative.transform(SpatialReference::create("spherical-mercator")).altitudeMode(), ALTMODE_RELATIVE);

    osg::Vec3d world;
    ASSERT_TRUE(rome.toWorld(world));
    GeoPoint fromWorld;
    ASSERT_TRUE(fromWorld.fromWorld(wgs84(), world));
    EXPECT_EQ(fromWorld.altitudeMode(), ALTMODE_ABSOLUTE);
    expectVec(fromWorld.vec3d(), rome.vec3d(), 1e-6);
    EXPECT_FALSE(fromWorld.fromWorld(nullptr, world));
}

TEST(GeoPointTest, DistanceTo)
{
    const GeoPoint ground(wgs84(), 0.0, 0.0, 0.0);
    EXPECT_NEAR(ground.distanceTo(GeoPoint(wgs84(), 0.0, 0.0, 1000.0)), 1000.0, 1e-6);
    EXPECT_NEAR(ground.distanceTo(GeoPoint(wgs84(), 180.0, 0.0, 0.0)), 2.0 * kEquator, 1e-6);
    // The other point is brought into this point's system first.
    const GeoPoint inMercator(SpatialReference::create("spherical-mercator"), GeoPoint(wgs84(), 0.0, 0.0, 500.0));
    EXPECT_NEAR(ground.distanceTo(inMercator), 500.0, 1e-6);
    EXPECT_EQ(ground.distanceTo(GeoPoint()), -1.0);
    EXPECT_EQ(GeoPoint().distanceTo(ground), -1.0);
}

TEST(GeoExtentTest, ContainsCentroidAndValidity)
{
    const GeoExtent extent(wgs84(), -10.0, -5.0, 20.0, 15.0);
    EXPECT_EQ(extent.width(), 30.0);
    EXPECT_EQ(extent.height(), 20.0);
    EXPECT_TRUE(extent.contains(-10.0, 15.0)); // edges are inside
    EXPECT_FALSE(extent.contains(20.001, 0.0));
    EXPECT_FALSE(extent.contains(0.0, -5.001));
    EXPECT_TRUE(
        extent.contains(GeoPoint(SpatialReference::create("spherical-mercator"), GeoPoint(wgs84(), 19, 14, 0))));
    double cx = 0.0, cy = 0.0;
    ASSERT_TRUE(extent.getCentroid(cx, cy));
    EXPECT_EQ(cx, 5.0);
    EXPECT_EQ(cy, 5.0);

    EXPECT_FALSE(GeoExtent().isValid());
    EXPECT_FALSE(GeoExtent(nullptr, 0, 0, 1, 1).isValid());
    EXPECT_FALSE(GeoExtent(wgs84(), 10, 0, -10, 1).isValid());
    EXPECT_FALSE(GeoExtent(wgs84(), 0, std::nan(""), 1, 1).contains(0.5, 0.5));
}

TEST(ProfileTest, GlobalGeodeticTiling)
{
    osg::ref_ptr<Profile> profile = Profile::create("global-geodetic");
    ASSERT_TRUE(profile.valid());
    EXPECT_EQ(profile->getSRS()->getHorizInitString(), "epsg:4326");
    expectExtent(profile->getExtent(), -180.0, -90.0, 180.0, 90.0);
    for (unsigned lod = 0; lod < 20; ++lod)
    {
        unsigned wide = 0, high = 0;
        double width = 0.0, height = 0.0;
        profile->getNumTiles(lod, wide, high);
        profile->getTileDimensions(lod, width, height);
        EXPECT_EQ(wide, 2u << lod);
        EXPECT_EQ(high, 1u << lod);
        EXPECT_DOUBLE_EQ(width, 180.0 / (1u << lod));
        EXPECT_DOUBLE_EQ(height, 180.0 / (1u << lod));
    }
    unsigned wide = 0, high = 0;
    profile->getNumTiles(40, wide, high); // too deep for 32-bit indices: saturates rather than wrapping
    EXPECT_EQ(wide, std::numeric_limits<unsigned>::max());

    std::vector<TileKey> roots;
    profile->getRootKeys(roots);
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0].str(), "0/0/0");
    EXPECT_EQ(roots[1].str(), "0/1/0");
}

TEST(ProfileTest, CreationDefaultsFailuresAndEquivalence)
{
    osg::ref_ptr<Profile> mercator = Profile::create("spherical-mercator");
    ASSERT_TRUE(mercator.valid());
    EXPECT_TRUE(mercator->getSRS()->isSphericalMercator());
    EXPECT_EQ(mercator->getNumTilesWideAtLod0() * mercator->getNumTilesHighAtLod0(), 1u);
    expectExtent(mercator->getExtent(), -kMercatorHalfWorld, -kMercatorHalfWorld, kMercatorHalfWorld,
                 kMercatorHalfWorld);
    EXPECT_TRUE(mercator->isEquivalentTo(osg::ref_ptr<Profile>(Profile::create("Global-Mercator")).get()));

    // Geographic systems default to two tiles across, others to one.
    osg::ref_ptr<Profile> geodetic = Profile::create("global-geodetic");
    osg::ref_ptr<Profile> geographic = Profile::create("wgs84", -180, -90, 180, 90);
    ASSERT_TRUE(geographic.valid());
    EXPECT_TRUE(geographic->isEquivalentTo(geodetic.get()));
    osg::ref_ptr<Profile> utm = Profile::create("epsg:32633", 0, 0, 1000, 1000);
    ASSERT_TRUE(utm.valid());
    EXPECT_EQ(utm->getNumTilesWideAtLod0(), 1u);
    EXPECT_FALSE(utm->isEquivalentTo(geodetic.get()));
    EXPECT_FALSE(osg::ref_ptr<Profile>(Profile::create(wgs84(), -180, -90, 180, 90, 4, 1))->isEquivalentTo(geodetic));

    EXPECT_EQ(Profile::create("no-such-profile"), nullptr);
    EXPECT_EQ(Profile::create("not-an-srs", 0, 0, 1, 1), nullptr);
    EXPECT_EQ(Profile::create(nullptr, 0, 0, 1, 1), nullptr);
    EXPECT_EQ(Profile::create(wgs84(), 10, 0, 10, 1), nullptr);  // empty
    EXPECT_EQ(Profile::create(wgs84(), 10, 0, -10, 1), nullptr); // inverted
    EXPECT_EQ(Profile::create(wgs84(), 0, 0, 1, 1, 100000, 1), nullptr);
}

TEST(TileKeyTest, NamesAndExtentsCountRowsFromTheNorth)
{
    osg::ref_ptr<Profile> profile = Profile::create("global-geodetic");
    const TileKey west(0, 0, 0, profile.get());
    EXPECT_EQ(west.str(), "0/0/0");
    expectExtent(west.getExtent(), -180.0, -90.0, 0.0, 90.0); // the western hemisphere
    EXPECT_EQ(west.getExtent().getSRS(), profile->getSRS());

    const TileKey key(2, 5, 0, profile.get());
    EXPECT_EQ(key.str(), "2/5/0");
    unsigned x = 0, y = 0;
    key.getTileXY(x, y);
    EXPECT_EQ(x * 10 + y, 50u);
    expectExtent(key.getExtent(), 45.0, 45.0, 90.0, 90.0); // row 0 is the top row
    expectExtent(TileKey(2, 5, 3, profile.get()).getExtent(), 45.0, -90.0, 90.0, -45.0);
}

TEST(TileKeyTest, InvalidKeys)
{
    osg::ref_ptr<Profile> profile = Profile::create("global-geodetic");
    EXPECT_EQ(TileKey().str(), "invalid");
    EXPECT_FALSE(TileKey(0, 2, 0, profile.get()).isValid()); // only two columns at level 0
    EXPECT_FALSE(TileKey(0, 0, 1, profile.get()).isValid());
    EXPECT_FALSE(TileKey(1, 0, 0, nullptr).isValid());
    EXPECT_FALSE(TileKey(40, 0, 0, profile.get()).isValid());
    EXPECT_FALSE(TileKey().getExtent().isValid());
    EXPECT_FALSE(TileKey().createChildKey(0).isValid());
    EXPECT_FALSE(TileKey(0, 0, 0, profile.get()).createChildKey(4).isValid());
    EXPECT_FALSE(TileKey(0, 1, 0, profile.get()).createParentKey().isValid());
    EXPECT_EQ(TileKey(), TileKey(0, 9, 9, profile.get()));
    EXPECT_TRUE(TileKey() < TileKey(0, 0, 0, profile.get()));
    EXPECT_FALSE(TileKey(0, 0, 0, profile.get()) < TileKey());
}

TEST(TileKeyTest, ChildrenTileTheirParentInQuadrantOrder)
{
    osg::ref_ptr<Profile> profile = Profile::create("global-geodetic");
    const TileKey parent(1, 2, 1, profile.get());
    const char* expectedNames[] = {"2/4/2", "2/5/2", "2/4/3", "2/5/3"};
    for (unsigned q = 0; q < 4; ++q)
        EXPECT_EQ(parent.createChildKey(q).str(), expectedNames[q]);

    // Exhaustively at a few levels: the four children cover the parent exactly and lead back to it.
    for (unsigned lod = 0; lod < 4; ++lod)
        for (unsigned y = 0; y < (1u << lod); ++y)
            for (unsigned x = 0; x < (2u << lod); ++x)
            {
                const TileKey key(lod, x, y, profile.get());
                const GeoExtent pe = key.getExtent();
                const GeoExtent nw = key.createChildKey(0).getExtent();
                const GeoExtent se = key.createChildKey(3).getExtent();
                expectExtent(nw, pe.west(), se.north(), se.west(), pe.north());
                expectExtent(se, nw.east(), pe.south(), pe.east(), nw.south());
                for (unsigned q = 0; q < 4; ++q)
                    EXPECT_EQ(key.createChildKey(q).createParentKey(), key) << key.str() << ' ' << q;
            }
}
