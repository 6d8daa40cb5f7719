#include <osgEarthUtil/EarthManipulator>

#include <osg/CoordinateSystemNode>
#include <osg/Geode>
#include <osg/ShapeDrawable>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using namespace osgEarth;
using osgEarth::Util::EarthManipulator;
using GEA = osgGA::GUIEventAdapter;

namespace {

constexpr double kEarthRadius = 6378137.0;

// Records what the manipulator asks of the viewer.
struct RecordingActions : public osgGA::GUIActionAdapter
{
    void requestRedraw() override { ++redraws; }
    void requestContinuousUpdate(bool needed) override { continuous = needed; }
    void requestWarpPointer(float, float) override {}
    int redraws = 0;
    bool continuous = false;
};

// A globe as the terrain engine presents it: an "INIT" coordinate system node with the WGS84 ellipsoid.
osg::ref_ptr<osg::CoordinateSystemNode> makeGlobe(bool withSurface = true)
{
    osg::ref_ptr<osg::CoordinateSystemNode> csn = new osg::CoordinateSystemNode("INIT", "epsg:4326");
    csn->setEllipsoidModel(new osg::EllipsoidModel());
    if (withSurface)
    {
        osg::ref_ptr<osg::Geode> geode = new osg::Geode;
        geode->addDrawable(new osg::ShapeDrawable(new osg::Sphere(osg::Vec3(), float(kEarthRadius))));
        csn->addChild(geode);
    }
    return csn;
}

osg::ref_ptr<GEA> frameAt(double time)
{
    osg::ref_ptr<GEA> ea = new GEA;
    ea->setEventType(GEA::FRAME);
    ea->setTime(time);
    return ea;
}

osg::ref_ptr<GEA> mouseEvent(GEA::EventType type, double x, double y, int buttons)
{
    osg::ref_ptr<GEA> ea = new GEA;
    ea->setEventType(type);
    ea->setInputRange(-1.0f, -1.0f, 1.0f, 1.0f);
    ea->setMouseYOrientation(GEA::Y_INCREASING_UPWARDS);
    ea->setX(float(x));
    ea->setY(float(y));
    ea->setButtonMask(buttons);
    return ea;
}

osg::ref_ptr<GEA> keyDown(int key)
{
    osg::ref_ptr<GEA> ea = new GEA;
    ea->setEventType(GEA::KEYDOWN);
    ea->setKey(key);
    return ea;
}

void drag(EarthManipulator& manip, RecordingActions& aa, int buttons, double dx, double dy)
{
    manip.handle(*mouseEvent(GEA::PUSH, 0.0, 0.0, buttons), aa);
    manip.handle(*mouseEvent(GEA::DRAG, dx / 2, dy / 2, buttons), aa);
    manip.handle(*mouseEvent(GEA::DRAG, dx, dy, buttons), aa);
    manip.handle(*mouseEvent(GEA::RELEASE, dx, dy, 0), aa);
}

double angleGap(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

void expectViewpoint(const Viewpoint& actual, double lon, double lat, double heading, double pitch, double range,
                     double tolerance = 1e-7)
{
    EXPECT_NEAR(actual.x(), lon, tolerance);
    EXPECT_NEAR(actual.y(), lat, tolerance);
    EXPECT_NEAR(angleGap(actual.getHeading(), heading), 0.0, tolerance);
    EXPECT_NEAR(actual.getPitch(), pitch, tolerance);
    EXPECT_NEAR(actual.getRange(), range, range * 1e-9 + tolerance);
}

class GlobeManipulator : public ::testing::Test
{
protected:
    void SetUp() override
    {
        globe = makeGlobe();
        manip = new EarthManipulator;
        manip->setNode(globe.get());
        ASSERT_TRUE(manip->isEstablished());
    }

    const SpatialReference* wgs84() const { return SpatialReference::create("epsg:4326"); }

    osg::ref_ptr<osg::CoordinateSystemNode> globe;
    osg::ref_ptr<EarthManipulator> manip;
    RecordingActions aa;
};

} // namespace

TEST(EarthManipulatorSettings, PitchAndDistanceLimits)
{
    osg::ref_ptr<EarthManipulator::Settings> s = new EarthManipulator::Settings;
    EXPECT_DOUBLE_EQ(s->getMinPitch(), -89.9);
    EXPECT_DOUBLE_EQ(s->getMaxPitch(), -4.0);
    EXPECT_DOUBLE_EQ(s->getMinDistance(), 0.001);
    EXPECT_EQ(s->getMaxDistance(), DBL_MAX);

    s->setMinMaxPitch(-90.0, -10.0);
    EXPECT_DOUBLE_EQ(s->getMinPitch(), -89.9);
    EXPECT_DOUBLE_EQ(s->getMaxPitch(), -10.0);
    s->setMinMaxPitch(-30.0, -60.0);
    EXPECT_DOUBLE_EQ(s->getMinPitch(), -30.0);
    EXPECT_DOUBLE_EQ(s->getMaxPitch(), -30.0) << "max is held at the min as given";
    s->setMinMaxPitch(-45.0, 120.0);
    EXPECT_DOUBLE_EQ(s->getMaxPitch(), 89.0);

    const unsigned revision = s->getRevision();
    s->setMinMaxDistance(-1.0, 10.0);
    s->setMinMaxPitch(NAN, 0.0);
    EXPECT_EQ(s->getRevision(), revision) << "rejected input changes nothing";
    EXPECT_DOUBLE_EQ(s->getMinDistance(), 0.001);
    s->setMinMaxDistance(100.0, 10.0);
    EXPECT_DOUBLE_EQ(s->getMinDistance(), 100.0);
    EXPECT_DOUBLE_EQ(s->getMaxDistance(), 100.0);
    EXPECT_GT(s->getRevision(), revision);
}

TEST(EarthManipulatorSettings, BindingsMatchModifiersAndReplace)
{
    osg::ref_ptr<EarthManipulator> manip = new EarthManipulator;
    EarthManipulator::Settings* s = manip->getSettings();
    EXPECT_EQ(s->getAction(EarthManipulator::EVENT_MOUSE_DRAG, GEA::LEFT_MOUSE_BUTTON, 0).type(),
              EarthManipulator::ACTION_PAN);
    EXPECT_EQ(
        s->getAction(EarthManipulator::EVENT_MOUSE_DRAG, GEA::LEFT_MOUSE_BUTTON | GEA::RIGHT_MOUSE_BUTTON, 0).type(),
        EarthManipulator::ACTION_ROTATE);
    const auto zoom = s->getAction(EarthManipulator::EVENT_MOUSE_DRAG, GEA::RIGHT_MOUSE_BUTTON, 0);
    EXPECT_EQ(zoom.type(), EarthManipulator::ACTION_ZOOM);
    EXPECT_TRUE(zoom.getBoolOption(EarthManipulator::OPTION_CONTINUOUS, false));
    const auto farther =
        s->getAction(EarthManipulator::EVENT_MOUSE_DOUBLE_CLICK, GEA::LEFT_MOUSE_BUTTON, GEA::MODKEY_RIGHT_CTRL);
    EXPECT_EQ(farther.type(), EarthManipulator::ACTION_GOTO);
    EXPECT_DOUBLE_EQ(farther.getDoubleOption(EarthManipulator::OPTION_GOTO_RANGE_FACTOR, 0.0), 2.5);

    s->bindKey(EarthManipulator::ACTION_ZOOM_IN, 'z', GEA::MODKEY_CTRL);
    EXPECT_EQ(s->getAction(EarthManipulator::EVENT_KEY_DOWN, 'z', GEA::MODKEY_LEFT_CTRL | GEA::MODKEY_NUM_LOCK).type(),
              EarthManipulator::ACTION_ZOOM_IN)
        << "either ctrl key matches and lock keys are ignored";
    EXPECT_EQ(s->getAction(EarthManipulator::EVENT_KEY_DOWN, 'z', 0).type(), EarthManipulator::ACTION_NULL);
    s->bindKey(EarthManipulator::ACTION_ZOOM_OUT, 'z', GEA::MODKEY_CTRL);
    EXPECT_EQ(s->getAction(EarthManipulator::EVENT_KEY_DOWN, 'z', GEA::MODKEY_CTRL).type(),
              EarthManipulator::ACTION_ZOOM_OUT);
}

TEST(EarthManipulatorScene, WithoutCoordinateSystemStaysDetachedAndSafe)
{
    osg::ref_ptr<EarthManipulator> manip = new EarthManipulator;
    RecordingActions aa;
    const Viewpoint before = manip->getViewpoint();
    EXPECT_TRUE(before.isValid());
    EXPECT_EQ(before.getSRS(), nullptr);
    EXPECT_EQ(before.getFocalPoint(), osg::Vec3d());
    EXPECT_DOUBLE_EQ(before.getRange(), 1.0);

    manip->setNode(nullptr);
    osg::ref_ptr<osg::Group> plain = new osg::Group;
    plain->addChild(new osg::Geode);
    manip->setNode(plain.get());
    EXPECT_FALSE(manip->isEstablished());
    EXPECT_EQ(manip->getNode(), plain.get());
    drag(*manip, aa, GEA::LEFT_MOUSE_BUTTON, 0.5, 0.5);
    manip->handle(*keyDown(GEA::KEY_Space), aa);
    manip->handle(*frameAt(1.0), aa);
    manip->home(0.0);
    EXPECT_FALSE(manip->isEstablished());
    EXPECT_EQ(manip->getViewpoint().getSRS(), nullptr);
    EXPECT_TRUE(manip->getMatrix().valid());

    // A coordinate system without a readable SRS or ellipsoid cannot be used either.
    osg::ref_ptr<osg::CoordinateSystemNode> unknown = new osg::CoordinateSystemNode("INIT", "no-such-system");
    plain->addChild(unknown);
    manip->handle(*frameAt(2.0), aa);
    EXPECT_FALSE(manip->isEstablished());
}

TEST(EarthManipulatorScene, PendingViewpointIsAppliedOnAttachAndBecomesHome)
{
    osg::ref_ptr<EarthManipulator> manip = new EarthManipulator;
    RecordingActions aa;
    manip->setViewpoint(Viewpoint(116.4, 39.9, 0.0, 30.0, -50.0, 20000.0, SpatialReference::create("wgs84")));
    EXPECT_EQ(manip->getViewpoint().getSRS(), nullptr) << "nothing to apply it to yet";

    // The scene first arrives without its map; the manipulator retries on each event until the map appears.
    osg::ref_ptr<osg::Group> root = new osg::Group;
    manip->setNode(root.get());
    EXPECT_FALSE(manip->isEstablished());
    osg::ref_ptr<osg::Group> holder = new osg::Group;
    root->addChild(holder);
    holder->addChild(makeGlobe());
    manip->handle(*frameAt(0.0), aa);
    ASSERT_TRUE(manip->isEstablished());
    expectViewpoint(manip->getViewpoint(), 116.4, 39.9, 30.0, -50.0, 20000.0);
    ASSERT_NE(manip->getViewpoint().getSRS(), nullptr);
    EXPECT_EQ(manip->getViewpoint().getSRS()->getHorizInitString(), "epsg:4326");

    manip->setViewpoint(Viewpoint(0.0, 0.0, 0.0, 0.0, -80.0, 1e6));
    manip->handle(*keyDown(GEA::KEY_Space), aa);
    expectViewpoint(manip->getViewpoint(), 116.4, 39.9, 30.0, -50.0, 20000.0);
}

TEST(EarthManipulatorScene, DefaultHomeAndSceneSwitching)
{
    osg::ref_ptr<osg::CoordinateSystemNode> first = makeGlobe(false);
    osg::ref_ptr<EarthManipulator> manip = new EarthManipulator;
    manip->setNode(first.get());
    expectViewpoint(manip->getViewpoint(), -90.0, 0.0, 0.0, -89.0, 3.0 * kEarthRadius);

    // A live scene is not replaced by another; clearing first allows the switch.
    osg::ref_ptr<osg::CoordinateSystemNode> second = makeGlobe(false);
    manip->setNode(second.get());
    EXPECT_EQ(manip->getNode(), first.get());
    manip->setNode(nullptr);
    EXPECT_FALSE(manip->isEstablished());
    manip->setNode(second.get());
    EXPECT_EQ(manip->getNode(), second.get());
    EXPECT_TRUE(manip->isEstablished());

    // Once the scene is gone, a new one is accepted.
    osg::ref_ptr<EarthManipulator> other = new EarthManipulator;
    {
        osg::ref_ptr<osg::CoordinateSystemNode> shortLived = makeGlobe(false);
        other->setNode(shortLived.get());
    }
    EXPECT_EQ(other->getNode(), nullptr);
    other->setNode(first.get());
    EXPECT_EQ(other->getNode(), first.get());
}

TEST_F(GlobeManipulator, ImmediateViewpointsRoundTripAndClamp)
{
    struct Case
    {
        double lon, lat, heading, pitch, range, expectHeading, expectPitch;
    };
    const Case cases[] = {
        {0.0, 0.0, 0.0, -45.0, 1000.0, 0.0, -45.0},       {151.2093, -33.8688, 135.5, -30.0, 5e5, 135.5, -30.0},
        {-122.4, 37.8, 190.0, -60.0, 2e4, -170.0, -60.0}, {179.9, 89.0, -540.0, -89.0, 7e6, 180.0, -89.0},
        {10.0, 20.0, 0.0, -90.0, 100.0, 0.0, -89.9},      {10.0, 20.0, 0.0, 0.0, 100.0, 0.0, -4.0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.lon);
        manip->setViewpoint(Viewpoint(c.lon, c.lat, 0.0, c.heading, c.pitch, c.range, wgs84()));
        const Viewpoint vp = manip->getViewpoint();
        expectViewpoint(vp, c.lon, c.lat, c.expectHeading, c.expectPitch, c.range);
        EXPECT_DOUBLE_EQ(manip->getDistance(), c.range);
        ASSERT_NE(vp.getSRS(), nullptr);
        EXPECT_EQ(vp.getSRS()->getHorizInitString(), "epsg:4326");
    }

    // Range limits, and viewpoints from another SRS are brought into the map's.
    manip->setViewpoint(Viewpoint(0.0, 0.0, 0.0, 0.0, -45.0, 0.0, wgs84()));
    EXPECT_DOUBLE_EQ(manip->getDistance(), 0.001);
    manip->setDistance(-5.0);
    EXPECT_DOUBLE_EQ(manip->getDistance(), 0.001);
    manip->setViewpoint(
        Viewpoint(1113194.9079327357, 0.0, 50.0, 0.0, -45.0, 1000.0, SpatialReference::create("spherical-mercator")));
    EXPECT_NEAR(manip->getViewpoint().x(), 10.0, 1e-9);
    EXPECT_NEAR(manip->getViewpoint().y(), 0.0, 1e-9);
    EXPECT_DOUBLE_EQ(manip->getViewpoint().z(), 50.0);

    // Invalid viewpoints change nothing.
    manip->setViewpoint(Viewpoint());
    manip->setViewpoint(Viewpoint(NAN, 0.0, 0.0, 0.0, -45.0, 1000.0, wgs84()));
    EXPECT_NEAR(manip->getViewpoint().x(), 10.0, 1e-9);
}

TEST_F(GlobeManipulator, CameraSitsAtRangeFacingTheHeading)
{
    // Looking east at 45 degrees down from the equator/prime meridian: the eye is west of and above the point.
    manip->setViewpoint(Viewpoint(0.0, 0.0, 0.0, 90.0, -45.0, 1000.0, wgs84()));
    const osg::Vec3d eye = manip->getMatrix().getTrans();
    const double leg = 1000.0 / std::sqrt(2.0);
    EXPECT_NEAR(eye.x(), kEarthRadius + leg, 1e-6);
    EXPECT_NEAR(eye.y(), -leg, 1e-6);
    EXPECT_NEAR(eye.z(), 0.0, 1e-6);
    const osg::Matrixd product = manip->getMatrix() * manip->getInverseMatrix();
    EXPECT_TRUE(product.isIdentity() || (product.getTrans().length() < 1e-6));

    // Looking (almost) straight down at 45 degrees north with heading 0, screen-up is local north.
    manip->setViewpoint(Viewpoint(0.0, 45.0, 0.0, 0.0, -89.9, 1000.0, wgs84()));
    const osg::Matrixd m = manip->getMatrix();
    const osg::Vec3d up(m(1, 0), m(1, 1), m(1, 2));
    EXPECT_NEAR(up.x(), -std::sqrt(0.5), 3e-3);
    EXPECT_NEAR(up.y(), 0.0, 1e-9);
    EXPECT_NEAR(up.z(), std::sqrt(0.5), 3e-3);
}

TEST_F(GlobeManipulator, SetByMatrixRecoversTheViewpoint)
{
    // Without a surface in view the manipulator keeps its range, so the round trip is exact.
    osg::ref_ptr<osg::CoordinateSystemNode> bare = makeGlobe(false);
    osg::ref_ptr<EarthManipulator> empty = new EarthManipulator;
    empty->setNode(bare.get());
    empty->setViewpoint(Viewpoint(25.0, -12.0, 0.0, -70.0, -35.0, 5e4, wgs84()));
    const osg::Matrixd saved = empty->getMatrix();
    empty->setViewpoint(Viewpoint(-60.0, 40.0, 0.0, 10.0, -80.0, 5e4, wgs84()));
    empty->setByMatrix(saved);
    expectViewpoint(empty->getViewpoint(), 25.0, -12.0, -70.0, -35.0, 5e4, 1e-6);
    empty->setViewpoint(Viewpoint(-60.0, 40.0, 0.0, 10.0, -89.9, 5e4, wgs84()));
    empty->setByInverseMatrix(osg::Matrixd::inverse(empty->getMatrix()));
    expectViewpoint(empty->getViewpoint(), -60.0, 40.0, 10.0, -89.9, 5e4, 1e-5);

    // With the globe's (faceted) surface the focal point is where the view meets it.
    manip->setViewpoint(Viewpoint(25.0, -12.0, 0.0, -70.0, -60.0, 5e5, wgs84()));
    const osg::Matrixd view = manip->getMatrix();
    manip->setViewpoint(Viewpoint(-60.0, 40.0, 0.0, 10.0, -80.0, 1e3, wgs84()));
    manip->setByMatrix(view);
    const Viewpoint back = manip->getViewpoint();
    EXPECT_NEAR(back.x(), 25.0, 0.5);
    EXPECT_NEAR(back.y(), -12.0, 0.5);
    EXPECT_NEAR(back.getRange(), 5e5, 5e4);
}

TEST_F(GlobeManipulator, FlightArcsTheShortWayAndLandsExactly)
{
    manip->setViewpoint(Viewpoint(170.0, 10.0, 0.0, 170.0, -45.0, 1e6, wgs84()));
    manip->setViewpoint(Viewpoint(-170.0, 20.0, 100.0, -170.0, -60.0, 2e6, wgs84()), 10.0);
    EXPECT_TRUE(manip->isSettingViewpoint());

    manip->handle(*frameAt(100.0), aa);
    expectViewpoint(manip->getViewpoint(), 170.0, 10.0, 170.0, -45.0, 1e6, 1e-6);
    EXPECT_TRUE(aa.continuous) << "a flight needs frames";

    manip->handle(*frameAt(105.0), aa);
    const Viewpoint mid = manip->getViewpoint();
    EXPECT_NEAR(angleGap(mid.x(), 180.0), 0.0, 1e-9) << "longitude crosses the antimeridian, not the globe";
    EXPECT_NEAR(mid.y(), 15.0, 1e-9);
    EXPECT_NEAR(angleGap(mid.getHeading(), 180.0), 0.0, 1e-9) << "heading turns the short way";
    EXPECT_NEAR(mid.getPitch(), -52.5, 1e-9);
    EXPECT_NEAR(mid.z(), 50.0, 1e-9);
    EXPECT_GT(mid.getRange(), 2e6) << "far hops rise above both ends";
    EXPECT_TRUE(manip->isSettingViewpoint());

    manip->handle(*frameAt(110.0), aa);
    const Viewpoint end = manip->getViewpoint();
    EXPECT_DOUBLE_EQ(end.x(), -170.0);
    EXPECT_DOUBLE_EQ(end.y(), 20.0);
    EXPECT_DOUBLE_EQ(end.z(), 100.0);
    EXPECT_DOUBLE_EQ(end.getHeading(), -170.0);
    EXPECT_DOUBLE_EQ(end.getPitch(), -60.0);
    EXPECT_DOUBLE_EQ(end.getRange(), 2e6);
    EXPECT_FALSE(manip->isSettingViewpoint());
    EXPECT_FALSE(aa.continuous);
}

TEST_F(GlobeManipulator, FlightWithoutArcInterpolatesTheRange)
{
    manip->getSettings()->setArcViewpointTransitions(false);
    manip->setViewpoint(Viewpoint(0.0, 0.0, 0.0, 0.0, -45.0, 1e6, wgs84()));
    manip->setViewpoint(Viewpoint(20.0, 0.0, 0.0, 0.0, -45.0, 3e6, wgs84()), 2.0);
    manip->handle(*frameAt(0.0), aa);
    manip->handle(*frameAt(0.5), aa);
    const Viewpoint early = manip->getViewpoint();
    EXPECT_GT(early.x(), 0.0);
    EXPECT_LT(early.x(), 5.0) << "the flight eases in";
    manip->handle(*frameAt(1.0), aa);
    EXPECT_NEAR(manip->getViewpoint().getRange(), 2e6, 1e-6);
    EXPECT_NEAR(manip->getViewpoint().x(), 10.0, 1e-9);
}

TEST_F(GlobeManipulator, AnySetViewpointCancelsAFlight)
{
    manip->setViewpoint(Viewpoint(0.0, 0.0, 0.0, 0.0, -45.0, 1e6, wgs84()));
    manip->setViewpoint(Viewpoint(40.0, 0.0, 0.0, 0.0, -45.0, 1e6, wgs84()), 10.0);
    manip->handle(*frameAt(0.0), aa);
    manip->handle(*frameAt(3.0), aa);
    manip->setViewpoint(Viewpoint(-30.0, 5.0, 0.0, 0.0, -45.0, 1e6, wgs84()));
    EXPECT_FALSE(manip->isSettingViewpoint());
    manip->handle(*frameAt(5.0), aa);
    expectViewpoint(manip->getViewpoint(), -30.0, 5.0, 0.0, -45.0, 1e6);

    // A new flight replaces the old one and starts from where the camera is.
    manip->setViewpoint(Viewpoint(40.0, 0.0, 0.0, 0.0, -45.0, 1e6, wgs84()), 10.0);
    manip->handle(*frameAt(6.0), aa);
    manip->setViewpoint(Viewpoint(-40.0, 0.0, 0.0, 0.0, -45.0, 1e6, wgs84()), 1.0);
    manip->handle(*frameAt(7.0), aa);
    manip->handle(*frameAt(8.0), aa);
    expectViewpoint(manip->getViewpoint(), -40.0, 0.0, 0.0, -45.0, 1e6);

    manip->setViewpoint(Viewpoint(40.0, 0.0, 0.0, 0.0, -45.0, 1e6, wgs84()), 10.0);
    manip->cancelViewpointTransition();
    EXPECT_FALSE(manip->isSettingViewpoint());
}

TEST_F(GlobeManipulator, ApplySettingsClampsPitchInDegrees)
{
    manip->setViewpoint(Viewpoint(5.0, 6.0, 0.0, 45.0, -80.0, 1e5, wgs84()));
    osg::ref_ptr<EarthManipulator::Settings> narrow = new EarthManipulator::Settings(*manip->getSettings());
    narrow->setMinMaxPitch(-60.0, -30.0);
    narrow->setMinMaxDistance(10.0, 5e4);
    manip->applySettings(narrow.get());
    EXPECT_EQ(manip->getSettings(), narrow.get());
    expectViewpoint(manip->getViewpoint(), 5.0, 6.0, 45.0, -60.0, 5e4);

    // Fresh defaults keep a pitch that is already within them, and bring back the default bindings.
    manip->applySettings(nullptr);
    expectViewpoint(manip->getViewpoint(), 5.0, 6.0, 45.0, -60.0, 5e4);
    EXPECT_EQ(manip->getSettings()->getAction(EarthManipulator::EVENT_MOUSE_DRAG, GEA::LEFT_MOUSE_BUTTON, 0).type(),
              EarthManipulator::ACTION_PAN);
}

TEST_F(GlobeManipulator, MouseDragsPanRotateAndZoom)
{
    manip->setViewpoint(Viewpoint(10.0, 20.0, 0.0, 0.0, -45.0, 1e5, wgs84()));
    drag(*manip, aa, GEA::LEFT_MOUSE_BUTTON, 0.2, 0.0);
    Viewpoint vp = manip->getViewpoint();
    EXPECT_LT(vp.x(), 10.0) << "dragging the ground right moves the view west";
    EXPECT_NEAR(vp.y(), 20.0, 0.01);
    EXPECT_NEAR(vp.getRange(), 1e5, 1e-6);
    EXPECT_GT(aa.redraws, 0);

    drag(*manip, aa, GEA::LEFT_MOUSE_BUTTON, 0.0, 0.2);
    EXPECT_LT(manip->getViewpoint().y(), 20.0) << "dragging the ground up moves the view south";

    manip->setViewpoint(Viewpoint(10.0, 20.0, 0.0, 0.0, -45.0, 1e5, wgs84()));
    drag(*manip, aa, GEA::MIDDLE_MOUSE_BUTTON, 0.1, 0.0);
    vp = manip->getViewpoint();
    EXPECT_NEAR(vp.getHeading(), -18.0, 1e-4) << "the scene turns with the pointer";
    EXPECT_NEAR(vp.getPitch(), -45.0, 1e-9);
    EXPECT_NEAR(vp.x(), 10.0, 1e-9) << "rotating keeps the focal point";
    drag(*manip, aa, GEA::MIDDLE_MOUSE_BUTTON, 0.0, 0.2);
    EXPECT_NEAR(manip->getViewpoint().getPitch(), -27.0, 1e-4) << "dragging up tilts toward the horizon";

    // Right drag zooms continuously while held: frames keep zooming out while the pointer is up.
    manip->handle(*mouseEvent(GEA::PUSH, 0.0, 0.0, GEA::RIGHT_MOUSE_BUTTON), aa);
    manip->handle(*mouseEvent(GEA::DRAG, 0.0, 0.5, GEA::RIGHT_MOUSE_BUTTON), aa);
    manip->handle(*frameAt(1.0), aa);
    const double once = manip->getDistance();
    manip->handle(*frameAt(1.1), aa);
    EXPECT_GT(once, 1e5);
    EXPECT_GT(manip->getDistance(), once);
    manip->handle(*mouseEvent(GEA::RELEASE, 0.0, 0.5, 0), aa);
    const double released = manip->getDistance();
    manip->handle(*frameAt(1.2), aa);
    EXPECT_DOUBLE_EQ(manip->getDistance(), released);

    osg::ref_ptr<GEA> wheel = new GEA;
    wheel->setEventType(GEA::SCROLL);
    wheel->setScrollingMotion(GEA::SCROLL_DOWN);
    manip->handle(*wheel, aa);
    EXPECT_NEAR(manip->getDistance(), released * 0.8, 1e-6);
}

TEST_F(GlobeManipulator, KeysPanAndGoHome)
{
    manip->setHomeViewpoint(Viewpoint(-3.7, 40.4, 0.0, 15.0, -70.0, 3e4, wgs84()));
    manip->setViewpoint(Viewpoint(100.0, -10.0, 0.0, 0.0, -45.0, 1e6, wgs84()));
    manip->handle(*keyDown(GEA::KEY_Left), aa);
    EXPECT_LT(manip->getViewpoint().x(), 100.0);
    manip->handle(*keyDown(GEA::KEY_Space), aa);
    expectViewpoint(manip->getViewpoint(), -3.7, 40.4, 15.0, -70.0, 3e4);

    // A home with a duration is flown to.
    manip->setHomeViewpoint(Viewpoint(50.0, 0.0, 0.0, 0.0, -45.0, 1e6, wgs84()), 2.0);
    manip->home(0.0);
    EXPECT_TRUE(manip->isSettingViewpoint());
}

TEST(EarthManipulatorScene, FlatMapWorksInMapCoordinates)
{
    osg::ref_ptr<osg::CoordinateSystemNode> flat = new osg::CoordinateSystemNode("INIT", "spherical-mercator");
    osg::ref_ptr<EarthManipulator> manip = new EarthManipulator;
    manip->setNode(flat.get());
    ASSERT_TRUE(manip->isEstablished());
    manip->setViewpoint(Viewpoint(10.0, 0.0, 0.0, 0.0, -89.9, 500.0, SpatialReference::create("wgs84")));
    const Viewpoint vp = manip->getViewpoint();
    EXPECT_NEAR(vp.x(), 1113194.9079327357, 1e-3);
    EXPECT_NEAR(vp.y(), 0.0, 1e-6);
    ASSERT_NE(vp.getSRS(), nullptr);
    EXPECT_TRUE(vp.getSRS()->isSphericalMercator());
    const osg::Vec3d eye = manip->getMatrix().getTrans();
    EXPECT_NEAR(eye.z(), 500.0, 0.01) << "on a flat map up is +Z";
}
