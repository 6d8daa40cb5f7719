#include <SolvoEarthKits/blink/ScintillationNodeCallBack.h>
#include <SolvoEarthUtil/scene/ModelHighLight.h>

#include <osg/Geode>
#include <osg/Program>
#include <osgUtil/UpdateVisitor>

#include <gtest/gtest.h>

using SolvoEarthUtil::ScintillationNodeCallBack;

namespace {

bool highlighted(const osg::Node& node)
{
    const osg::StateSet* stateSet = node.getStateSet();
    return stateSet && stateSet->getAttribute(osg::StateAttribute::PROGRAM);
}

// A highlighted node below a group, blinking by a clock the test sets.
struct Blinker
{
    Blinker()
    {
        SolvoEarthUtil::setModelHighLight(node.get(), osg::Vec4f(0.0f, 1.0f, 0.0f, 1.0f));
        node->addUpdateCallback(callBack.get());
        root->addChild(node.get());
        callBack->setClock([this] { return clock; });
    }

    // Runs one update traversal at `seconds`; whether the node is highlighted afterwards.
    bool at(double seconds)
    {
        clock = seconds;
        osg::ref_ptr<osgUtil::UpdateVisitor> visitor = new osgUtil::UpdateVisitor;
        visitor->setFrameStamp(new osg::FrameStamp);
        root->accept(*visitor);
        return highlighted(*node);
    }

    double clock = 0.0;
    osg::ref_ptr<ScintillationNodeCallBack> callBack = new ScintillationNodeCallBack(3);
    osg::ref_ptr<osg::Geode> node = new osg::Geode;
    osg::ref_ptr<osg::Group> root = new osg::Group;
};

} // namespace

TEST(Scintillation, SwitchesAfterMoreThanHalfASecondStartingPlain)
{
    Blinker blinker;
    EXPECT_TRUE(blinker.at(0.4));
    EXPECT_TRUE(blinker.at(0.5)) << "exactly half a second is not enough";
    EXPECT_FALSE(blinker.at(0.6)) << "the first switch removes the highlight";
    EXPECT_FALSE(blinker.at(1.0));
    EXPECT_TRUE(blinker.at(1.15));
    const auto* program =
        static_cast<const osg::Program*>(blinker.node->getStateSet()->getAttribute(osg::StateAttribute::PROGRAM));
    EXPECT_EQ(program->getShader(0)->getShaderSource(),
              SolvoEarthUtil::highLightShaderSource(osg::Vec4f(1.0f, 0.0f, 0.5f, 0.5f)));
    EXPECT_TRUE(blinker.at(1.6));
    EXPECT_FALSE(blinker.at(1.7));
    // Below two frames a second every frame switches.
    EXPECT_TRUE(blinker.at(2.7));
    EXPECT_FALSE(blinker.at(3.7));
    EXPECT_TRUE(blinker.at(4.7));
}

TEST(Scintillation, InstancesKeepTheirOwnRhythm)
{
    Blinker first;
    Blinker second;
    EXPECT_FALSE(first.at(0.6));
    EXPECT_FALSE(second.at(0.6)) << "the other instance's switch does not delay this one";
    EXPECT_TRUE(first.at(1.2));
    EXPECT_FALSE(second.at(0.9));
    EXPECT_TRUE(second.at(1.2)) << "the other instance's phase does not invert this one";
}

TEST(Scintillation, CopiesGoOnFromTheOriginalWithATimerOfTheirOwn)
{
    Blinker blinker;
    EXPECT_FALSE(blinker.at(0.6));
    osg::ref_ptr<osg::Object> copy = blinker.callBack->clone(osg::CopyOp::SHALLOW_COPY);
    blinker.callBack = dynamic_cast<ScintillationNodeCallBack*>(copy.get());
    blinker.node->setUpdateCallback(blinker.callBack.get());
    EXPECT_FALSE(blinker.at(1.0)) << "0.4 s after the original's switch";
    EXPECT_TRUE(blinker.at(1.2));

    // The own timer starts at construction.
    osg::ref_ptr<ScintillationNodeCallBack> fresh = new ScintillationNodeCallBack(0);
    (*fresh)(blinker.node.get(), nullptr);
    EXPECT_TRUE(highlighted(*blinker.node));
}
