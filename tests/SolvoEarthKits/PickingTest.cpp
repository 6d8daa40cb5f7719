#include "OffscreenRender.h"
#include "ProgressFixtures.h"
#include "ViewerHarness.h"

#include <SolvoEarthKits/picking/WebPickZirArchitectureHandler.h>

#include <gtest/gtest.h>

#include <utility>

using MarloKits::WebPickZirArchitectureHandler;
using namespace veltra::test;

namespace MarloKits {

// The tests' way to the handler's private lookups and its blink callback.
struct WebPickZirArchitectureHandlerAccess
{
    using Handler = WebPickZirArchitectureHandler;
    static bool findID(Handler& handler, const std::string& name, int& id) { return handler.findID(name, id); }
    static std::string rootFileName(Handler& handler, osg::Node* node) { return handler.getRootFileName(node); }
    static SolvoEarthUtil::ScintillationNodeCallBack* blink(Handler& handler) { return handler._blinkCallBack.get(); }
};

} // namespace MarloKits

using Access = MarloKits::WebPickZirArchitectureHandlerAccess;

namespace {

class Recorder : public CallBack
{
public:
    using CallBack::response;
    bool response(int value) override { return ids.push_back(value), true; }
    bool response(std::string text, int value) override { return answers.emplace_back(text, value), true; }
    std::vector<int> ids;
    std::vector<std::pair<std::string, int>> answers;
};

} // namespace

TEST(WebPickZirArchitectureHandler, FindIdReadsTheFirstBracketsElseThreeColonPieces)
{
    osg::ref_ptr<WebPickZirArchitectureHandler> handler = new WebPickZirArchitectureHandler;
    const std::pair<std::string, int> found[] = {{"Beam[4711]", 4711}, {"A:B:981", 981}, {"[x]", 0},    {"x[1]y[2]", 1},
                                                 {"a]12[34", 34},      {"A:B[5]:9", 5},  {"::a:b:7", 7}};
    for (const auto& [name, expected] : found)
    {
        int id = -1;
        EXPECT_TRUE(Access::findID(*handler, name, id)) << name;
        EXPECT_EQ(id, expected) << name;
    }
    for (const char* name : {"A:981", "Wall", "", "a::b", "x[3", "x]3"})
    {
        int id = -1;
        EXPECT_FALSE(Access::findID(*handler, name, id)) << name;
        EXPECT_EQ(id, -1) << name;
    }
}

TEST(WebPickZirArchitectureHandler, RootFileNameClimbsFirstParentsAndSaysSoOnStandardOutput)
{
    osg::ref_ptr<WebPickZirArchitectureHandler> handler = new WebPickZirArchitectureHandler;
    osg::ref_ptr<osg::Group> sceneRoot = new osg::Group;
    sceneRoot->setName("Scene Root");
    sceneRoot->setUserValue("fileName", std::string("房屋.zir"));
    osg::ref_ptr<osg::Group> storey = new osg::Group;
    osg::ref_ptr<osg::Geode> part = new osg::Geode;
    sceneRoot->addChild(storey.get());
    storey->addChild(part.get());
    testing::internal::CaptureStdout();
    EXPECT_EQ(Access::rootFileName(*handler, part.get()), "房屋.zir");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "找到文件根  node name Scene Root\n文件名  房屋.zir\n");

    osg::ref_ptr<osg::Group> firstParent = new osg::Group;
    firstParent->addChild(part.get());
    storey->removeChild(part.get());
    storey->addChild(part.get());
    testing::internal::CaptureStdout();
    EXPECT_EQ(Access::rootFileName(*handler, part.get()), "") << "only the first parent is followed";
    EXPECT_EQ(Access::rootFileName(*handler, nullptr), "");
    sceneRoot->setUserDataContainer(nullptr);
    EXPECT_EQ(Access::rootFileName(*handler, storey.get()), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "找到文件根  node name Scene Root\n文件名  \n")
        << "a root without a file name";
}

namespace {

const osg::Vec4ub kWhite(255, 255, 255, 255);

// Three white squares named "Beam[4711]", "A:B:981" and "Wall" at x = 0, 1.5, 3, with an
// unnamed pane of glass in front of the second; clicks go through a real viewer.
class PickingRender : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(harness.valid()) << harness.why();
        model = makeModel({"Beam[4711]", "A:B:981", "Wall"});
        osg::ref_ptr<osg::Geode> glass = new osg::Geode;
        glass->addDrawable(osg::createTexturedQuadGeometry(osg::Vec3(1.5f, -1.0f, 0.0f), osg::Vec3(1.0f, 0.0f, 0.0f),
                                                           osg::Vec3(0.0f, 0.0f, 1.0f)));
        model->addChild(glass.get());
        harness.setScene(model.get());
        harness.lookAt(osg::Vec3d(2.0, -10.0, 0.5), osg::Vec3d(2.0, 0.0, 0.5), osg::Vec3d(0.0, 0.0, 1.0));
        handler->addCallBack(recorder.get());
        harness.viewer().addEventHandler(handler.get());
        Access::blink(*handler)->setClock([this] { return clock; });
        harness.frame();
    }

    static osg::Vec3d centre(int part) { return osg::Vec3d(0.5 + 1.5 * part, 0.0, 0.5); }
    osg::Geode* part(const char* name) { return geodeNamed(model.get(), name); }
    bool blinking(const char* name) { return part(name)->getUpdateCallback() == Access::blink(*handler); }
    bool highlighted(const char* name)
    {
        const osg::StateSet* stateSet = part(name)->getStateSet();
        return stateSet && stateSet->getAttribute(osg::StateAttribute::PROGRAM);
    }
    // The colour at the centre of `which` part in a capture (rows counted from the bottom).
    osg::Vec4ub colourAt(const osg::Image& image, int which)
    {
        const osg::Vec2d window = harness.windowPosition(centre(which));
        return pixelAt(image, static_cast<int>(window.x()), harness.height() - static_cast<int>(window.y()));
    }
    // Moves the blink clock to `seconds` and runs a frame.
    void frameAt(double seconds)
    {
        clock = seconds;
        harness.frame();
    }

    ViewerHarness harness;
    double clock = 0.0;
    osg::ref_ptr<osg::Group> model;
    osg::ref_ptr<WebPickZirArchitectureHandler> handler = new WebPickZirArchitectureHandler;
    osg::ref_ptr<Recorder> recorder = new Recorder;
};

} // namespace

TEST_F(PickingRender, ClickingPartsMovesTheBlinkAndAgainStopsIt)
{
    harness.click(centre(0));
    EXPECT_EQ(recorder->ids, std::vector<int>{4711});
    EXPECT_TRUE(blinking("Beam[4711]"));
    frameAt(0.6);
    EXPECT_FALSE(highlighted("Beam[4711]"));
    clock = 1.2;
    const osg::Vec4ub lit = colourAt(*harness.capture(), 0);
    EXPECT_TRUE(lit.r() > 100 && lit.g() < 40 && lit.b() > 30) << "pink: " << describe(lit);
    EXPECT_TRUE(colourNear(colourAt(*harness.capture(), 2), kWhite)) << "the part without id stays white";

    harness.click(centre(1));
    EXPECT_EQ(recorder->ids, (std::vector<int>{4711, 981})) << "the glass without id lets the pick through";
    EXPECT_FALSE(blinking("Beam[4711]"));
    EXPECT_TRUE(colourNear(colourAt(*harness.capture(), 0), kWhite)) << "the blink left the beam";
    EXPECT_TRUE(blinking("A:B:981"));

    frameAt(1.8);
    frameAt(2.4);
    EXPECT_TRUE(highlighted("A:B:981"));
    harness.click(centre(1));
    EXPECT_EQ(recorder->ids, (std::vector<int>{4711, 981, 981})) << "a second click still reports";
    EXPECT_FALSE(blinking("A:B:981"));
    EXPECT_FALSE(highlighted("A:B:981"));
    harness.click(centre(1));
    EXPECT_TRUE(blinking("A:B:981")) << "a third click blinks again";
    EXPECT_TRUE(shown(handler->getPickRoot()));
}

TEST_F(PickingRender, MissesRightAndMiddleButtonsAndEmptySpace)
{
    harness.click(centre(0));
    for (int button : {osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON, osgGA::GUIEventAdapter::MIDDLE_MOUSE_BUTTON})
    {
        harness.click(centre(1), button);
        harness.click(centre(2), button);
    }
    EXPECT_EQ(recorder->ids, std::vector<int>{4711});
    EXPECT_TRUE(blinking("Beam[4711]"));
    EXPECT_TRUE(shown(handler->getPickRoot()));

    const osg::Vec3d between(1.25, 0.0, 0.5);
    harness.click(between);
    EXPECT_TRUE(shown(handler->getPickRoot())) << "nothing hit, nothing changes";
    harness.click(centre(2));
    EXPECT_TRUE(hidden(handler->getPickRoot())) << "a part without id hides the pick root";
    EXPECT_TRUE(blinking("Beam[4711]")) << "and the current pick goes on blinking";
    harness.click(between);
    EXPECT_TRUE(hidden(handler->getPickRoot()));
    EXPECT_TRUE(blinking("Beam[4711]"));
    EXPECT_EQ(recorder->ids, std::vector<int>{4711});

    handler->queryArchitectureAttribute(42);
    EXPECT_EQ(recorder->ids, (std::vector<int>{4711, 42}));
    EXPECT_TRUE(hidden(handler->getPickRoot())) << "the id form leaves the pick root alone";
    handler->queryArchitectureAttribute("面积", 3);
    EXPECT_EQ(recorder->answers, (std::vector<std::pair<std::string, int>>{{"面积", 3}}));
    EXPECT_TRUE(shown(handler->getPickRoot()));
}

TEST_F(PickingRender, RemovingAnyListenerEndsTheCurrentPick)
{
    harness.click(centre(0));
    handler->removeCallBack(nullptr);
    EXPECT_TRUE(blinking("Beam[4711]"));

    osg::ref_ptr<Recorder> stranger = new Recorder;
    handler->removeCallBack(stranger.get());
    EXPECT_FALSE(blinking("Beam[4711]"));
    EXPECT_FALSE(highlighted("Beam[4711]"));

    handler->removeCallBack(recorder.get());
    harness.click(centre(0));
    EXPECT_EQ(recorder->ids, std::vector<int>{4711}) << "the removed listener hears nothing more";
    EXPECT_TRUE(blinking("Beam[4711]"));
    handler->resetPick();
    EXPECT_FALSE(blinking("Beam[4711]"));
}
