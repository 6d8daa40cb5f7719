#include <osgEarthUtil/Sky>

#include <osgEarth/Map>
#include <osgEarth/MapNode>

#include "NotifyCapture.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/NodeVisitor>
#include <osg/View>

#include <cmath>
#include <set>
#include <string>

using namespace osgEarth;
using namespace osgEarth::Util;
using veltra::test::NotifyCapture;

namespace {

// Drawables reachable under a node, honouring node masks (hidden elements are not counted).
struct DrawableFinder : public osg::NodeVisitor
{
    DrawableFinder() : osg::NodeVisitor(TRAVERSE_ACTIVE_CHILDREN) {}
    void apply(osg::Drawable& drawable) override
    {
        ++count;
        names.insert(drawable.getName());
    }
    unsigned count = 0;
    std::set<std::string> names;
};

DrawableFinder drawablesUnder(osg::Node* node)
{
    DrawableFinder finder;
    node->accept(finder);
    return finder;
}

// The transform that carries the drawable called `name`, or null.
struct TransformOfDrawable : public osg::NodeVisitor
{
    explicit TransformOfDrawable(const std::string& drawableName)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), name(drawableName)
    {}
    void apply(osg::MatrixTransform& transform) override
    {
        current = &transform;
        traverse(transform);
    }
    void apply(osg::Drawable& drawable) override
    {
        if (drawable.getName() == name && !found)
        {
            found = current;
        }
    }
    std::string name;
    osg::MatrixTransform* current = nullptr;
    osg::MatrixTransform* found = nullptr;
};

osg::ref_ptr<MapNode> projectedMapNode(double west, double south, double east, double north)
{
    Config profile("profile");
    profile.set("srs", "wgs84");
    profile.set("xmin", west);
    profile.set("ymin", south);
    profile.set("xmax", east);
    profile.set("ymax", north);
    MapOptions options;
    options.coordSysType() = MapOptions::CSTYPE_PROJECTED;
    options.profile() = profile;
    return new MapNode(new Map(options));
}

osg::Vec3d lightDirection(SkyNode& sky)
{
    const osg::Vec4 position = sky.getSunLight()->getPosition();
    EXPECT_FLOAT_EQ(position.w(), 0.0f) << "the sun is a directional light";
    osg::Vec3d direction(position.x(), position.y(), position.z());
    direction.normalize();
    return direction;
}

double degreesBetween(const osg::Vec3d& a, const osg::Vec3d& b)
{
    return osg::RadiansToDegrees(std::acos(std::clamp(a * b / (a.length() * b.length()), -1.0, 1.0)));
}

// The March equinox of 2024 fell at 03:06 UTC on the 20th.
const DateTime kEquinoxNoon(2024, 3, 20, 12.0);
const DateTime kEquinoxMidnight(2024, 3, 20, 0.0);

} // namespace

TEST(SkyNode, DriverSelection)
{
    osg::ref_ptr<MapNode> globe = new MapNode();

    osg::ref_ptr<SkyNode> byDefault = SkyNode::create(SkyOptions(), globe.get());
    ASSERT_TRUE(byDefault.valid());
    EXPECT_EQ(byDefault->getDriverName(), "simple");
    ASSERT_TRUE(osg::ref_ptr<SkyNode>(SkyNode::create(globe.get())).valid());
    EXPECT_EQ(osg::ref_ptr<SkyNode>(SkyNode::create(" GL ", globe.get()))->getDriverName(), "gl");

    Config fromType("sky");
    fromType.set("type", "gl");
    EXPECT_EQ(osg::ref_ptr<SkyNode>(SkyNode::create(SkyOptions(fromType), globe.get()))->getDriverName(), "gl");

    NotifyCapture capture(osg::WARN);
    EXPECT_EQ(SkyNode::create("silverlining", globe.get()), nullptr);
    EXPECT_TRUE(capture.contains("silverlining"));
}

TEST(SkyNode, OptionsReadAndWriteTheirKeys)
{
    Config conf("sky");
    conf.set("driver", "simple");
    conf.set("hours", "12.5");
    conf.set("ambient", "0.2");
    conf.set("exposure", "3.0");
    const SkyOptions options(conf);
    EXPECT_EQ(options.getDriver(), "simple");
    EXPECT_FLOAT_EQ(options.hours().get(), 12.5f);
    EXPECT_FLOAT_EQ(options.ambient().get(), 0.2f);

    const Config written = SkyOptions(options).getConfig();
    EXPECT_EQ(written.value("hours"), "12.5");
    EXPECT_EQ(written.value("exposure"), "3.0") << "driver keys ride along";
    EXPECT_FALSE(SkyOptions().getConfig().hasChild("hours")) << "unset options are not written";
}

TEST(SkyNode, SkyElementsDependOnDriverAndMap)
{
    osg::ref_ptr<MapNode> globe = new MapNode();
    osg::ref_ptr<MapNode> flat = projectedMapNode(-10.0, -10.0, 10.0, 10.0);

    osg::ref_ptr<SkyNode> simple = SkyNode::create("simple", globe.get());
    const DrawableFinder drawn = drawablesUnder(simple.get());
    EXPECT_EQ(drawn.names, (std::set<std::string>{"veltra.sky.atmosphere", "veltra.sky.sun", "veltra.sky.stars"}));
    EXPECT_FALSE(simple->getBound().valid()) << "the sky must not enlarge the scene's bounds";

    EXPECT_EQ(drawablesUnder(osg::ref_ptr<SkyNode>(SkyNode::create("gl", globe.get())).get()).count, 0u);
    EXPECT_EQ(drawablesUnder(osg::ref_ptr<SkyNode>(SkyNode::create("gl", flat.get())).get()).count, 0u);

    NotifyCapture capture(osg::WARN);
    osg::ref_ptr<SkyNode> simpleFlat = SkyNode::create("simple", flat.get());
    ASSERT_TRUE(simpleFlat.valid()) << "a projected map still gets its light";
    EXPECT_EQ(drawablesUnder(simpleFlat.get()).count, 0u);
    EXPECT_TRUE(capture.contains("geocentric"));
    simpleFlat->setDateTime(kEquinoxNoon);
    simpleFlat->setSunVisible(false);

    // The terrain goes under the sky, beside the sky elements.
    simple->addChild(globe.get());
    EXPECT_TRUE(simple->getBound().valid());
}

TEST(SkyNode, SunFollowsTheClockOnAGlobe)
{
    osg::ref_ptr<SkyNode> sky = SkyNode::create("gl", osg::ref_ptr<MapNode>(new MapNode()).get());
    sky->setDateTime(kEquinoxNoon);
    EXPECT_EQ(sky->getDateTime(), kEquinoxNoon);
    EXPECT_LT(degreesBetween(lightDirection(*sky), osg::Vec3d(1, 0, 0)), 3.0) << "noon UTC is noon at Greenwich";
    sky->setDateTime(kEquinoxMidnight);
    EXPECT_LT(degreesBetween(lightDirection(*sky), osg::Vec3d(-1, 0, 0)), 3.0);
    sky->setDateTime(DateTime(2024, 3, 20, 18.0));
    EXPECT_LT(degreesBetween(lightDirection(*sky), osg::Vec3d(0, -1, 0)), 3.0) << "the sun moves west, 15° an hour";

    sky->setDateTime(DateTime(2024, 6, 20, 12.0));
    EXPECT_NEAR(90.0 - degreesBetween(lightDirection(*sky), osg::Vec3d(0, 0, 1)), 23.44, 0.5) << "June solstice";
    sky->setDateTime(DateTime(2024, 12, 21, 12.0));
    EXPECT_NEAR(90.0 - degreesBetween(lightDirection(*sky), osg::Vec3d(0, 0, 1)), -23.44, 0.5) << "December";
}

TEST(SkyNode, SunDiscAndStarsTrackTheLight)
{
    osg::ref_ptr<SkyNode> sky = SkyNode::create(osg::ref_ptr<MapNode>(new MapNode()).get());
    sky->setDateTime(DateTime(2024, 3, 20, 9.0));
    TransformOfDrawable sun("veltra.sky.sun");
    sky->accept(sun);
    ASSERT_NE(sun.found, nullptr);
    EXPECT_LT(degreesBetween(sun.found->getMatrix().getTrans(), lightDirection(*sky)), 0.01);

    TransformOfDrawable stars("veltra.sky.stars");
    sky->accept(stars);
    ASSERT_NE(stars.found, nullptr);
    const osg::Matrixd nine = stars.found->getMatrix();
    sky->setDateTime(DateTime(2024, 3, 20, 15.0));
    const osg::Vec3d before = osg::Vec3d(1, 0, 0) * nine;
    const osg::Vec3d after = osg::Vec3d(1, 0, 0) * stars.found->getMatrix();
    EXPECT_NEAR(degreesBetween(before, after), 90.25, 0.1) << "six sidereal-rate hours turn the sky ~90.25°";

    sky->setSunVisible(false);
    sky->setStarsVisible(false);
    EXPECT_EQ(drawablesUnder(sky.get()).names, std::set<std::string>{"veltra.sky.atmosphere"});
    sky->setSunVisible(true);
    sky->setMoonVisible(false);
    EXPECT_EQ(drawablesUnder(sky.get()).count, 2u);
    EXPECT_FALSE(sky->getMoonVisible());
}

TEST(SkyNode, ProjectedMapsLightInTheLocalFrame)
{
    // Centred on 0N 0E: the equinox noon sun stands overhead.
    osg::ref_ptr<SkyNode> centred = SkyNode::create("gl", projectedMapNode(-10.0, -10.0, 10.0, 10.0).get());
    centred->setDateTime(kEquinoxNoon);
    EXPECT_LT(degreesBetween(lightDirection(*centred), osg::Vec3d(0, 0, 1)), 3.0);

    // Centred on 0N 90E, six hours later in local time: the sun is setting in the west.
    osg::ref_ptr<SkyNode> east = SkyNode::create("gl", projectedMapNode(80.0, -10.0, 100.0, 10.0).get());
    east->setDateTime(kEquinoxNoon);
    EXPECT_LT(degreesBetween(lightDirection(*east), osg::Vec3d(-1, 0, 0)), 3.0);

    // Centred on 45N 0E: at noon the sun is 45° up in the south.
    osg::ref_ptr<SkyNode> north = SkyNode::create("gl", projectedMapNode(-10.0, 35.0, 10.0, 55.0).get());
    north->setDateTime(kEquinoxNoon);
    EXPECT_LT(degreesBetween(lightDirection(*north), osg::Vec3d(0, -1, 1)), 3.0);
}

TEST(SkyNode, AmbientAndHoursOptionsAreClamped)
{
    osg::ref_ptr<MapNode> globe = new MapNode();
    auto ambientOf = [&](const std::string& driver, const char* ambient) {
        SkyOptions options;
        options.setDriver(driver);
        if (ambient)
        {
            options.ambient() = std::stof(ambient);
        }
        return osg::ref_ptr<SkyNode>(SkyNode::create(options, globe.get()))->getSunLight()->getAmbient();
    };
    EXPECT_EQ(ambientOf("simple", "1.5"), osg::Vec4(1, 1, 1, 1));
    EXPECT_EQ(ambientOf("gl", "-0.5"), osg::Vec4(0, 0, 0, 1));
    EXPECT_EQ(ambientOf("gl", "0.4"), osg::Vec4(0.4f, 0.4f, 0.4f, 1));
    EXPECT_EQ(ambientOf("simple", nullptr), osg::Vec4(0.03f, 0.03f, 0.03f, 1));
    EXPECT_EQ(ambientOf("gl", nullptr), osg::Vec4(0.1f, 0.1f, 0.1f, 1));
    EXPECT_EQ(ambientOf("gl", "nan"), osg::Vec4(0.1f, 0.1f, 0.1f, 1)) << "an unreadable level keeps the default";

    auto skyAt = [&](float hours) {
        SkyOptions options;
        options.hours() = hours;
        return osg::ref_ptr<SkyNode>(SkyNode::create(options, globe.get()))->getDateTime();
    };
    const DateTime today = DateTime::now();
    const DateTime morning = skyAt(6.5f);
    EXPECT_NEAR(morning.hours(), 6.5, 1e-6);
    EXPECT_EQ(morning.day(), today.day()) << "today's UTC date (fails only across midnight)";
    EXPECT_EQ(skyAt(-3.0f), DateTime(today.year(), today.month(), today.day(), 0.0));
    EXPECT_EQ(skyAt(30.0f), DateTime(today.year(), today.month(), today.day(), 24.0));

    // Without hours the sky shows the present.
    osg::ref_ptr<SkyNode> live = SkyNode::create(globe.get());
    EXPECT_LE(std::llabs(static_cast<long long>(live->getDateTime().asTimeStamp() - today.asTimeStamp())), 5);
}

TEST(SkyNode, AttachMakesTheSunTheViewsSkyLight)
{
    osg::ref_ptr<MapNode> globe = new MapNode();
    osg::ref_ptr<SkyNode> simple = SkyNode::create(globe.get());
    osg::ref_ptr<osg::View> view = new osg::View;
    view->getCamera()->setClearColor(osg::Vec4(0.2f, 0.2f, 0.4f, 1.0f));
    simple->attach(view.get(), 2);
    EXPECT_EQ(view->getLight(), simple->getSunLight());
    EXPECT_EQ(simple->getSunLight()->getLightNum(), 2);
    EXPECT_EQ(view->getLightingMode(), osg::View::SKY_LIGHT);
    EXPECT_EQ(view->getCamera()->getClearColor(), osg::Vec4(0, 0, 0, 1));

    osg::ref_ptr<SkyNode> gl = SkyNode::create("gl", globe.get());
    osg::ref_ptr<osg::View> glView = new osg::View;
    glView->getCamera()->setClearColor(osg::Vec4(0.2f, 0.2f, 0.4f, 1.0f));
    gl->attach(glView.get());
    EXPECT_EQ(glView->getLight(), gl->getSunLight());
    EXPECT_EQ(gl->getSunLight()->getLightNum(), 0);
    EXPECT_EQ(glView->getCamera()->getClearColor(), osg::Vec4(0.2f, 0.2f, 0.4f, 1.0f)) << "only simple paints space";

    NotifyCapture capture(osg::WARN);
    gl->attach(glView.get(), 12);
    EXPECT_EQ(gl->getSunLight()->getLightNum(), 0);
    EXPECT_TRUE(capture.contains("light number"));

    simple->attach(nullptr);
    gl->attach(nullptr, 1);
    EXPECT_EQ(gl->getSunLight()->getLightNum(), 0) << "a null view changes nothing";
}

TEST(SkyNode, LightingSwitchAndMissingMapNode)
{
    osg::ref_ptr<SkyNode> sky = SkyNode::create("gl", nullptr);
    ASSERT_TRUE(sky.valid()) << "no map node: a sky over WGS84";
    EXPECT_TRUE(sky->isGeocentric());
    EXPECT_EQ(sky->getStateSet()->getMode(GL_LIGHTING), osg::StateAttribute::ON);
    sky->setLighting(osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    EXPECT_EQ(sky->getStateSet()->getMode(GL_LIGHTING), osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);

    osg::ref_ptr<SkyNode> simple = SkyNode::create(static_cast<MapNode*>(nullptr));
    ASSERT_TRUE(simple.valid());
    EXPECT_EQ(drawablesUnder(simple.get()).count, 3u);
    simple->setDateTime(kEquinoxNoon);
    EXPECT_LT(degreesBetween(lightDirection(*simple), osg::Vec3d(1, 0, 0)), 3.0);
}
