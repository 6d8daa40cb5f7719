#include <SolvoEarthKits/blink/buoyAlertCallBack.h>

#include <osgEarth/MapNode>
#include <osgEarthAnnotation/PlaceNode>

#include "NotifyCapture.h"

#include <osg/Geode>
#include <osg/TexEnvCombine>
#include <osgUtil/UpdateVisitor>

#include <gtest/gtest.h>

using osgEarth::Annotation::PlaceNode;

namespace {

// The icon's opacity as the marker's icon state holds it, or -1 without an icon.
struct IconAlpha : public osg::NodeVisitor
{
    IconAlpha() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) { setNodeMaskOverride(~0u); }
    void apply(osg::Drawable& drawable) override
    {
        if (drawable.getName() != "veltra.place.icon" || !drawable.getStateSet())
            return;
        const auto* env = dynamic_cast<const osg::TexEnvCombine*>(
            drawable.getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXENV));
        if (env)
            alpha = env->getConstantColor().a();
    }
    float alpha = -1.0f;
};

class CountingCallBack : public osg::NodeCallback
{
public:
    void operator()(osg::Node* node, osg::NodeVisitor* nv) override
    {
        ++calls;
        traverse(node, nv);
    }
    int calls = 0;
};

// A buoy marker with an icon below a group, blinking by a clock the test sets.
struct Buoy
{
    Buoy()
    {
        osg::ref_ptr<osg::Image> icon = new osg::Image;
        icon->allocateImage(8, 8, 1, GL_RGBA, GL_UNSIGNED_BYTE);
        place =
            new PlaceNode(globe.get(), osgEarth::GeoPoint(globe->getMapSRS(), 121.5, 31.2, 0.0), icon.get(), "buoy 7");
        place->addUpdateCallback(callBack.get());
        root->addChild(place.get());
        callBack->setClock([this] { return clock; });
    }

    // A visitor of one update traversal, as the viewer's update would send it.
    static osg::ref_ptr<osgUtil::UpdateVisitor> updateVisitor()
    {
        osg::ref_ptr<osgUtil::UpdateVisitor> visitor = new osgUtil::UpdateVisitor;
        visitor->setFrameStamp(new osg::FrameStamp);
        return visitor;
    }

    // Runs one update traversal at `seconds`; the icon's opacity afterwards.
    float at(double seconds)
    {
        clock = seconds;
        root->accept(*updateVisitor());
        return iconAlpha();
    }

    // Runs the callback at `seconds` on no node.
    void nullAt(double seconds)
    {
        clock = seconds;
        (*callBack)(nullptr, updateVisitor().get());
    }

    float iconAlpha()
    {
        IconAlpha reader;
        place->accept(reader);
        return reader.alpha;
    }

    double clock = 0.0;
    osg::ref_ptr<osgEarth::MapNode> globe = new osgEarth::MapNode();
    osg::ref_ptr<buoyAlertCallBack> callBack = new buoyAlertCallBack(3);
    osg::ref_ptr<PlaceNode> place;
    osg::ref_ptr<osg::Group> root = new osg::Group;
};

} // namespace

TEST(BuoyAlert, IconTurnsFaintAndOpaqueEveryHalfSecondStartingFaint)
{
    Buoy buoy;
    ASSERT_FLOAT_EQ(buoy.iconAlpha(), 1.0f) << "the marker starts opaque";
    const struct
    {
        double seconds;
        float alpha;
        const char* why;
    } steps[] = {
        {0.4, 1.0f, "before the first half second"},
        {0.5, 1.0f, "exactly half a second is not enough"},
        {0.6, 0.3f, "the first switch turns faint"},
        {1.0, 0.3f, "0.4 s after a switch"},
        {1.15, 1.0f, "then opaque"},
        {1.6, 1.0f, "0.45 s after a switch"},
        {1.7, 0.3f, "faint again"},
        {2.7, 1.0f, "below two frames a second"},
        {3.7, 0.3f, "every frame"},
        {4.7, 1.0f, "switches"},
    };
    for (const auto& step : steps)
    {
        EXPECT_FLOAT_EQ(buoy.at(step.seconds), step.alpha) << step.seconds << " s: " << step.why;
        EXPECT_FLOAT_EQ(buoy.callBack->getTransparency(), step.alpha) << step.seconds << " s";
    }
    EXPECT_EQ(buoy.callBack->getValue(), 3);
}

TEST(BuoyAlert, NoNodeOnlyAdvancesThePhase)
{
    Buoy buoy;
    const struct
    {
        double seconds;
        bool onNode;
        float passed; // the transparency the switch passes
        float icon;   // the icon's opacity afterwards
    } steps[] = {
        {0.6, false, 0.3f, 1.0f}, // the faint half passes with nothing to show it
        {1.2, true, 1.0f, 1.0f},  // so the marker's first switch is the opaque one
        {1.3, false, 1.0f, 1.0f}, // too early: no switch
        {1.8, false, 0.3f, 1.0f}, {2.4, true, 1.0f, 1.0f},
        {3.0, true, 0.3f, 0.3f},  {3.6, false, 1.0f, 0.3f}, // the icon keeps what it was last given
    };
    for (const auto& step : steps)
    {
        if (step.onNode)
            buoy.at(step.seconds);
        else
            buoy.nullAt(step.seconds);
        EXPECT_FLOAT_EQ(buoy.callBack->getTransparency(), step.passed) << step.seconds << " s";
        EXPECT_FLOAT_EQ(buoy.iconAlpha(), step.icon) << step.seconds << " s";
    }
}

TEST(BuoyAlert, OtherNodesAreLeftAloneWithOneWarning)
{
    veltra::test::NotifyCapture capture(osg::WARN);
    osg::ref_ptr<osg::Geode> node = new osg::Geode;
    node->setName("not a buoy");
    osg::ref_ptr<buoyAlertCallBack> callBack = new buoyAlertCallBack(0);
    double clock = 0.0;
    callBack->setClock([&clock] { return clock; });
    for (clock = 0.6; clock < 3.0; clock += 0.6)
        (*callBack)(node.get(), nullptr);
    EXPECT_FLOAT_EQ(callBack->getTransparency(), 1.0f) << "four switches kept the rhythm";
    EXPECT_EQ(node->getStateSet(), nullptr);
    int warnings = 0;
    for (const std::string& line : capture.lines())
        warnings += line.find("[buoyAlertCallBack] \"not a buoy\"") != std::string::npos;
    EXPECT_EQ(warnings, 1);
}

TEST(BuoyAlert, BlinkingStopsTheTraversalBelowTheMarker)
{
    Buoy buoy;
    osg::ref_ptr<osg::Group> child = new osg::Group;
    osg::ref_ptr<CountingCallBack> below = new CountingCallBack;
    child->addUpdateCallback(below.get());
    buoy.place->addChild(child.get());
    buoy.at(0.6);
    buoy.at(0.7);
    EXPECT_EQ(below->calls, 0);
    buoy.place->removeUpdateCallback(buoy.callBack.get());
    buoy.at(0.8);
    EXPECT_EQ(below->calls, 1) << "without the blink the traversal goes on";
}

TEST(BuoyAlert, CopiesGoOnFromTheOriginalWithATimerOfTheirOwn)
{
    Buoy buoy;
    EXPECT_FLOAT_EQ(buoy.at(0.6), 0.3f);
    osg::ref_ptr<osg::Object> copy = buoy.callBack->clone(osg::CopyOp::SHALLOW_COPY);
    buoy.place->removeUpdateCallback(buoy.callBack.get());
    buoy.callBack = dynamic_cast<buoyAlertCallBack*>(copy.get());
    ASSERT_TRUE(buoy.callBack.valid());
    buoy.place->addUpdateCallback(buoy.callBack.get());
    EXPECT_FLOAT_EQ(buoy.at(1.0), 0.3f) << "0.4 s after the original's switch";
    EXPECT_FLOAT_EQ(buoy.at(1.2), 1.0f);
    EXPECT_EQ(buoy.callBack->getValue(), 3);

    // The own timer starts at construction, so a fresh callback waits its first half second.
    osg::ref_ptr<buoyAlertCallBack> fresh = new buoyAlertCallBack(0);
    (*fresh)(buoy.place.get(), nullptr);
    EXPECT_FLOAT_EQ(buoy.iconAlpha(), 1.0f);
    EXPECT_FLOAT_EQ(fresh->getTransparency(), 1.0f);
}
