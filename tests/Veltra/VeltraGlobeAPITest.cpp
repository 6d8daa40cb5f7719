// The globe members of the scripting object: on a plug-in object without a window (its application has a viewer
// that nobody draws, unless a test draws itself), and through the plug-in library in a real window.

#include "EngineNodeCallback.h"
#include "FakeHost.h"
#include "NotifyCapture.h"
#include "PluginInWindow.h"
#include "TempDir.h"
#include "Veltra.h"
#include "VeltraAPI.h"
#include "queryFeatureInfo.h"
#include "plugincore/PluginEvents.h"

#include <PluginEarth/PluginEarth.h>
#include <PluginEarth/pluginFeatures.h>
#include <SolvoEarthKits/progress/ProgressControl.h>
#include <SolvoEarthUtil/scene/NodeSearch.h>
#include <Zir/osgMainApp.h>

#include <osgEarth/Config>
#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/ModelLayer>
#include <osgEarthFeatures/Feature>

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>
#include <osgGA/EventVisitor>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using osgEarth::Config;
using osgEarth::MapNode;
using veltra::test::CallResult;
using veltra::test::FakeHost;
using veltra::test::NotifyCapture;
using veltra::test::TempDir;

namespace {

const char* const kGlobe = "<map type='geocentric'/>";
const char* const kStyle = R"({"fill":"#ff0000","stroke":"#ffff00"})";

// GeoJSON: a feature collection of diamonds, one per id, side by side from (lon, 10).
std::string diamonds(const std::vector<int>& ids, double lon = 10.0)
{
    std::ostringstream out;
    out << R"({"type":"FeatureCollection","features":[)";
    for (std::size_t i = 0; i < ids.size(); ++i)
    {
        const double x = lon + 2.0 * static_cast<double>(i);
        out << (i ? "," : "") << R"({"type":"Feature","id":)" << ids[i]
            << R"(,"properties":{},"geometry":{"type":"Polygon","coordinates":[[)"
            << "[" << x << ",10],[" << x + 0.5 << ",10.5],[" << x << ",11],[" << x - 0.5 << ",10.5],[" << x
            << ",10]]]}}";
    }
    out << "]}";
    return out.str();
}

// Primitive sets per feature id below a node, as the feature compiler tags them.
std::map<osgEarth::Features::FeatureID, unsigned> taggedSets(osg::Node* node)
{
    struct Counter : osg::NodeVisitor
    {
        Counter() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
        void apply(osg::Geometry& geometry) override
        {
            for (unsigned i = 0; i < geometry.getNumPrimitiveSets(); ++i)
            {
                using osgEarth::Features::RefFeatureID;
                if (auto* tag = dynamic_cast<const RefFeatureID*>(geometry.getPrimitiveSet(i)->getUserData()))
                    ++sets[osgEarth::Features::FeatureID(*tag)];
            }
        }
        std::map<osgEarth::Features::FeatureID, unsigned> sets;
    } counter;
    if (node)
        node->accept(counter);
    return counter.sets;
}

// Parts named with element ids under a transform, written as a model file.
std::string writeModel(const TempDir& folder, const std::vector<std::string>& parts)
{
    osg::ref_ptr<osg::MatrixTransform> model = new osg::MatrixTransform;
    model->setName("Tower");
    float x = 0.0f;
    for (const std::string& name : parts)
    {
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName(name);
        part->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(x, 0.0f, 0.0f), 1.0f)));
        model->addChild(part);
        x += 1.5f;
    }
    std::string path = folder.file("tower.osgt");
    osgDB::writeNodeFile(*model, path);
    return path;
}

const char* const kTasks =
    R"([{"wbs":"1.1","name":"Footing","startP":"2024-03-01","finishP":"2024-03-03","startA":"2024-03-01","finishA":"2024-03-03"},)"
    R"({"wbs":"1.2","name":"Roof","startP":"2024-03-04","finishP":"2024-03-06","startA":"2024-03-04","finishA":"2024-03-06"}])";
const char* const kBinding = R"({"1.1":[101],"1.2":[102]})";

// A page function that keeps the arguments of every call.
class RecordingHandler : public FB::JSObject
{
public:
    FB::variant invokeDefault(const FB::VariantList& args) override
    {
        std::vector<std::string> texts;
        for (const FB::variant& arg : args)
            texts.push_back(arg.convert_cast<std::string>());
        calls.push_back(texts);
        return FB::variant();
    }
    FB::variant invoke(const std::string&, const FB::VariantList&) override { return FB::variant(); }
    FB::variant getProperty(const std::string&) override { return FB::variant(); }
    void setProperty(const std::string&, const FB::variant&) override {}
    bool hasMethod(const std::string&) override { return false; }
    bool hasProperty(const std::string&) override { return false; }
    bool isSameObject(const FB::JSObject& other) const override { return &other == this; }

    std::vector<std::vector<std::string>> calls;
};

// The scripting object of a plug-in object that has its application but no window.
class VeltraGlobe : public ::testing::Test
{
protected:
    void SetUp() override
    {
        plugin = std::make_shared<Veltra>();
        plugin->setHost(host);
        api = std::make_shared<VeltraAPI>(plugin, host);
    }

    void TearDown() override
    {
        api.reset();
        if (plugin)
            plugin->destroy();
    }

    std::string earthFile(const std::string& name = "globe.earth", const std::string& xml = kGlobe)
    {
        return dir.write(name, xml);
    }
    // Loads an earth file and lets one frame's events reach the camera, which takes up the map it finds there.
    MapNode* loadGlobe(const std::string& name = "globe.earth")
    {
        api->loadearthfile(earthFile(name));
        frameEvents();
        return api->earth()->getMapNode();
    }
    // The frame event that a drawn frame hands the camera manipulator, under the scene lock as the frame loop holds it.
    void frameEvents()
    {
        std::shared_ptr<osgMainApp> app = plugin->getApp();
        SceneLock::Guard hold = app->viewer->sceneLock().acquireForFrame();
        osg::ref_ptr<osgGA::GUIEventAdapter> frame = new osgGA::GUIEventAdapter;
        frame->setEventType(osgGA::GUIEventAdapter::FRAME);
        if (osgGA::CameraManipulator* camera = app->viewer->getCameraManipulator())
            camera->handle(*frame, *app->viewer);
    }
    osg::Group* layerNode(const std::string& name)
    {
        MapNode* map = api->earth()->getMapNode();
        osgEarth::ModelLayer* layer = map ? map->getMap()->getModelLayerByName(name) : nullptr;
        osg::Node* node = layer ? map->getModelLayerNode(layer) : nullptr;
        return node ? node->asGroup() : nullptr;
    }
    // The events of one frame, handed to the map node as the viewer's event traversal would.
    void sendEvents(osg::Node* node, const std::vector<osgGA::GUIEventAdapter::EventType>& types)
    {
        osg::ref_ptr<osgGA::EventVisitor> visitor = new osgGA::EventVisitor;
        for (auto type : types)
        {
            osg::ref_ptr<osgGA::GUIEventAdapter> event = new osgGA::GUIEventAdapter;
            event->setEventType(type);
            visitor->addEvent(event.get());
        }
        node->accept(*visitor);
    }
    void mouseUp() { plugin->handleEvent(FB::MouseUpEvent(FB::MouseButtonEvent::Left, 1, 1), nullptr); }

    TempDir dir;
    std::shared_ptr<FakeHost> host = std::make_shared<FakeHost>();
    std::shared_ptr<Veltra> plugin;
    std::shared_ptr<VeltraAPI> api;
};

} // namespace

TEST_F(VeltraGlobe, ConstructionHangsTheGlobeIntoTheApplicationWithItsListeners)
{
    PluginEarth* earth = api->earth();
    ASSERT_NE(earth, nullptr);
    ASSERT_NE(api->features(), nullptr);
    ASSERT_NE(api->engineCallback(), nullptr);
    osg::Group* root = plugin->getApp()->root.get();
    EXPECT_EQ(root->getChildIndex(earth->getModelGroup()), 0u) << "the model group comes first";
    EXPECT_LT(root->getChildIndex(earth->getEarthGroup()), root->getNumChildren());
    EXPECT_EQ(earth->getScanHandler()->getNumCallBacks(), 1u) << "the pick listener";

    testing::internal::CaptureStdout();
    auto another = std::make_shared<VeltraAPI>(plugin, host);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("读取object成功...\n"), std::string::npos) << out;
}

TEST_F(VeltraGlobe, EarthFilesEnterTheSceneTheSkipListAndTheCameraReport)
{
    // Before any earth file: no viewpoint, a camera report with level -1, and nothing for the report to read.
    EXPECT_EQ(api->getviewpoint(), "");
    Config before;
    ASSERT_TRUE(before.fromJSON(api->getcamerapostion()));
    EXPECT_EQ(before.value("level"), "-1");
    EXPECT_EQ(api->engineCallback()->getMapNode(), nullptr);

    MapNode* first = loadGlobe("a.earth");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->getParent(0), api->earth()->getEarthGroup());
    EXPECT_EQ(SolvoEarthUtil::g_skips.count(first), 1u);
    EXPECT_EQ(api->engineCallback()->getMapNode(), first);
    EXPECT_EQ(api->engineCallback()->getManipulator(), api->earth()->getEarthManipulator());

    MapNode* second = loadGlobe("b.earth");
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second, first);
    EXPECT_EQ(SolvoEarthUtil::g_skips.count(first), 1u) << "entries stay while the maps live";
    EXPECT_EQ(SolvoEarthUtil::g_skips.count(second), 1u);
    EXPECT_EQ(api->engineCallback()->getMapNode(), second);
    EXPECT_TRUE(api->features()->createlayer("roads", kStyle)) << "the layer manager works on the new map";
    EXPECT_NE(second->getMap()->getModelLayerByName("roads"), nullptr);

    // A file without a map keeps the map shown; the listed maps leave the list with the scripting object.
    EXPECT_NO_THROW(api->loadearthfile(earthFile("bad.earth", "<notamap/>")));
    EXPECT_EQ(api->engineCallback()->getMapNode(), second);
    api.reset();
    EXPECT_EQ(SolvoEarthUtil::g_skips.count(first) + SolvoEarthUtil::g_skips.count(second), 0u);
}

TEST_F(VeltraGlobe, AFirstEarthFileWithoutAMapTellsThePage)
{
    NotifyCapture quiet(osg::WARN);
    api->loadearthfile(earthFile("bad.earth", "<notamap/>"));
    EXPECT_EQ(api->earth()->getMapNode(), nullptr);
    EXPECT_EQ(api->engineCallback()->getMapNode(), nullptr);
    host->runPending();
    ASSERT_EQ(host->warnings.size(), 1u);
    EXPECT_NE(host->warnings[0].find("bad.earth"), std::string::npos);
}

TEST_F(VeltraGlobe, ViewpointRoundTripAndCameraReport)
{
    ASSERT_NE(loadGlobe(), nullptr);
    api->setviewpoint(FB::variant(R"({"long":"116.5","lat":"39.9","heading":"10","pitch":"-45","range":"5000"})"));
    const std::string text = api->getviewpoint();
    Config written;
    ASSERT_TRUE(written.fromJSON(text)) << text;
    EXPECT_NEAR(written.value<double>("long", 0), 116.5, 1e-9) << text;
    EXPECT_NEAR(written.value<double>("lat", 0), 39.9, 1e-9);
    EXPECT_NEAR(written.value<double>("range", 0), 5000, 1e-6);
    api->setviewpoint(FB::variant(R"({"long":"1","lat":"2","pitch":"-30","range":"1e6"})"));
    api->setviewpoint(FB::variant(text));
    EXPECT_EQ(api->getviewpoint(), text) << "what getviewpoint wrote, setviewpoint reads";

    Config camera;
    ASSERT_TRUE(camera.fromJSON(api->getcamerapostion()));
    EXPECT_NEAR(camera.value<double>("long", 0), 116.5, 1e-9);
    EXPECT_NEAR(camera.value<double>("lat", 0), 39.9, 1e-9);
    EXPECT_NE(camera.value("level"), "-1") << "a loaded globe has tiles";
}

TEST_F(VeltraGlobe, PitchRangeConvertsBothArgumentsBeforeItLogs)
{
    NotifyCapture notices(osg::NOTICE);
    EXPECT_THROW(api->setpitchrange(FB::variant("steep"), FB::variant(80.0)), std::exception);
    EXPECT_THROW(api->setpitchrange(FB::variant(-80.0), FB::variant()), std::exception) << "a missing argument";
    EXPECT_FALSE(notices.contains("min ")) << "a failed call logs nothing";

    api->setpitchrange(FB::variant(-70.0), FB::variant("-20"));
    EXPECT_TRUE(notices.contains("min -70 max -20"));
    EXPECT_DOUBLE_EQ(api->earth()->getEarthManipulator()->getSettings()->getMinPitch(), -70.0);
    EXPECT_DOUBLE_EQ(api->earth()->getEarthManipulator()->getSettings()->getMaxPitch(), -20.0);
}

TEST_F(VeltraGlobe, LayerMethodsAnswerTrueAndChangeTheGraph)
{
    // Before an earth file there is nowhere to put a layer: every call answers true and changes nothing.
    EXPECT_TRUE(api->createlayer(FB::variant("roads"), FB::variant(kStyle)));
    EXPECT_TRUE(api->addfeatures(FB::variant("roads"), FB::variant(diamonds({1}))));
    EXPECT_TRUE(api->showlayer(FB::variant("roads"), FB::variant(false)));
    EXPECT_TRUE(api->removefeature(FB::variant("roads"), FB::variant("1")));
    EXPECT_TRUE(api->removelayer(FB::variant("roads")));

    MapNode* map = loadGlobe();
    ASSERT_NE(map, nullptr);
    struct Step
    {
        const char* what;
        std::function<bool()> call;
        std::function<void()> check;
    };
    const std::vector<Step> steps = {
        {"createlayer", [&] { return api->createlayer(FB::variant("roads"), FB::variant(kStyle)); },
         [&] {
             ASSERT_NE(layerNode("roads"), nullptr);
             EXPECT_TRUE(taggedSets(layerNode("roads")).empty());
         }},
        {"addfeatures",
         [&] {
             return api->addfeatures(FB::variant("roads"), FB::variant(diamonds({1, 2, 3})));
         },
         [&] {
             auto sets = taggedSets(layerNode("roads"));
             EXPECT_GT(sets[1], 0u);
             EXPECT_GT(sets[2], 0u);
             EXPECT_GT(sets[3], 0u);
         }},
        {"addfeatures to no layer", [&] { return api->addfeatures(FB::variant("none"), FB::variant(diamonds({4}))); },
         [&] { EXPECT_EQ(map->getMap()->getModelLayerByName("none"), nullptr); }},
        {"addfeatures of broken text", [&] { return api->addfeatures(FB::variant("roads"), FB::variant("{")); },
         [&] { EXPECT_EQ(taggedSets(layerNode("roads")).size(), 3u); }},
        {"removefeature", [&] { return api->removefeature(FB::variant("roads"), FB::variant("2")); },
         [&] {
             auto sets = taggedSets(layerNode("roads"));
             EXPECT_EQ(sets.count(2), 0u);
             EXPECT_GT(sets[1], 0u) << "the neighbours stay";
             EXPECT_GT(sets[3], 0u);
         }},
        {"showlayer false", [&] { return api->showlayer(FB::variant("roads"), FB::variant(false)); },
         [&] { EXPECT_EQ(layerNode("roads")->getNodeMask(), 0u); }},
        {"showlayer true", [&] { return api->showlayer(FB::variant("roads"), FB::variant("true")); },
         [&] { EXPECT_NE(layerNode("roads")->getNodeMask(), 0u); }},
        {"removelayer", [&] { return api->removelayer(FB::variant("roads")); },
         [&] { EXPECT_EQ(map->getMap()->getModelLayerByName("roads"), nullptr); }},
        {"removelayer of no layer", [&] { return api->removelayer(FB::variant("roads")); }, [] {}},
    };
    NotifyCapture quiet(osg::WARN);
    for (const Step& step : steps)
    {
        SCOPED_TRACE(step.what);
        EXPECT_TRUE(step.call());
        step.check();
    }
    EXPECT_THROW(api->createlayer(FB::variant("x"), FB::variant()), std::exception) << "a missing style";
}

TEST_F(VeltraGlobe, PicksAndCameraMovesBecomeThePagesScripts)
{
    // Picks: the switch puts the pick handler on the view; a pick reaches the page as modelPsotion.
    api->querymodelinfo(FB::variant(true));
    const auto& handlers = plugin->getApp()->viewer->getEventHandlers();
    EXPECT_EQ(std::count(handlers.begin(), handlers.end(), api->earth()->getScanHandler()), 1);
    osg::ref_ptr<MarloKits::queryFeatureInfo> picks = new MarloKits::queryFeatureInfo(plugin);
    picks->onPick(nullptr, osg::Vec3d(116.5, 39.9, 0.0));
    EXPECT_EQ(plugin->pendingScript(), "modelPsotion('116.5 39.9 0')");
    mouseUp();
    EXPECT_EQ(host->scripts.back(), "modelPsotion('116.5 39.9 0')");
    api->querymodelinfo(FB::variant(false));
    EXPECT_EQ(std::count(handlers.begin(), handlers.end(), api->earth()->getScanHandler()), 0);

    // Before an earth file the camera report has nothing to read.
    osg::ref_ptr<osg::Group> somewhere = new osg::Group;
    somewhere->setEventCallback(api->engineCallback());
    sendEvents(somewhere.get(), {osgGA::GUIEventAdapter::RELEASE});
    EXPECT_EQ(plugin->pendingScript(), "");
    somewhere->setEventCallback(nullptr);

    MapNode* map = loadGlobe();
    ASSERT_NE(map, nullptr);
    api->enablepostinTomap2d(FB::variant(true));
    ASSERT_EQ(map->getEventCallback(), api->engineCallback());
    const osgEarth::Viewpoint vp = api->earth()->getEarthManipulator()->getViewpoint();
    const std::string expected = EngineNodeCallback::scriptFor(vp.x(), vp.y(), api->earth()->getlevel());
    EXPECT_EQ(expected.rfind("changepostion(", 0), 0u);

    using E = osgGA::GUIEventAdapter;
    struct Case
    {
        const char* what;
        std::vector<E::EventType> events;
        bool reports;
    };
    const std::vector<Case> cases = {
        {"moves and drags", {E::MOVE, E::DRAG, E::PUSH}, false},
        {"a release", {E::MOVE, E::RELEASE}, true},
        {"a double click", {E::DOUBLECLICK}, true},
        {"a wheel turn", {E::SCROLL}, true},
        {"no events", {}, false},
    };
    for (const Case& c : cases)
    {
        sendEvents(map, c.events);
        EXPECT_EQ(plugin->pendingScript(), c.reports ? expected : "") << c.what;
        plugin->handleEvent(FB::MouseScrollEvent(1, 1, 0, 1), nullptr);
    }
    EXPECT_EQ(host->scripts.back(), expected) << "the scroll ran the last report";

    api->enablepostinTomap2d(FB::variant(false));
    EXPECT_EQ(map->getEventCallback(), nullptr);
}

TEST_F(VeltraGlobe, ScheduleOnTheGlobeSitsUnderTheModelGroupAndReportsDates)
{
    const std::string model = writeModel(dir, {"Part[101]", "Part[102]"});
    auto dates = std::make_shared<RecordingHandler>();
    api->attachEvent("ondateChanged", dates);
    NotifyCapture quiet(osg::WARN);

    // A bad number fails the call before anything is loaded.
    EXPECT_THROW(api->loadProgressControlToEarth(FB::variant(model), FB::variant(kTasks), FB::variant(kBinding),
                                                 FB::variant(116.5), FB::variant("north"), FB::variant(0.0),
                                                 FB::variant(0.0), FB::variant(0.0), FB::variant(0.0)),
                 std::exception);
    EXPECT_EQ(plugin->getApp()->getProgressControl(), nullptr);

    ASSERT_NE(loadGlobe(), nullptr);
    ASSERT_TRUE(api->loadProgressControlToEarth(FB::variant(model), FB::variant(kTasks), FB::variant(kBinding),
                                                FB::variant(116.5), FB::variant(39.9), FB::variant(0.0),
                                                FB::variant(90.0), FB::variant(0.0), FB::variant(0.0)));
    ProgressControl* control = plugin->getApp()->getProgressControl();
    ASSERT_NE(control, nullptr);
    osg::Group* models = api->earth()->getModelGroup();
    bool placed = false;
    for (osg::Group* parent : control->getParents())
        placed = placed || (parent->getNumParents() && parent->getParent(0) == models &&
                            dynamic_cast<osg::MatrixTransform*>(parent));
    EXPECT_TRUE(placed) << "the control hangs in a placed transform under the earth's model group";

    EXPECT_TRUE(api->setProgressControlToday(FB::variant("2024-03-05")));
    ASSERT_FALSE(dates->calls.empty());
    EXPECT_EQ(dates->calls.back().at(0), "2024-03-05");
    EXPECT_EQ(dates->calls.back().size(), 3u);

    // The scripting object goes while the control stays with the application: the control reports to nobody.
    api.reset();
    const std::size_t heard = dates->calls.size();
    {
        std::lock_guard<std::recursive_mutex> lock(control->mutex);
        control->setToday("2024-03-02");
    }
    EXPECT_EQ(dates->calls.size(), heard);
}

TEST_F(VeltraGlobe, WithoutTheApplicationTheGlobeStillAnswersAndAFreshOneFollowsTheNextWindow)
{
    ASSERT_NE(loadGlobe(), nullptr);
    api->enablepostinTomap2d(FB::variant(true));
    plugin->handleEvent(FB::DetachedEvent(), nullptr);
    ASSERT_EQ(plugin->getApp(), nullptr);

    // No frame runs now: the globe's changes are made at once, and nothing fails.
    NotifyCapture quiet(osg::WARN);
    api->setviewpoint(FB::variant(R"({"long":"1","lat":"2","range":"1000"})"));
    EXPECT_FALSE(api->getviewpoint().empty());
    EXPECT_FALSE(api->getcamerapostion().empty());
    EXPECT_TRUE(api->createlayer(FB::variant("roads"), FB::variant(kStyle)));
    EXPECT_TRUE(api->addfeatures(FB::variant("roads"), FB::variant(diamonds({1}))));
    EXPECT_GT(taggedSets(layerNode("roads"))[1], 0u);
    EXPECT_FALSE(api->loadProgressControlToEarth(FB::variant("m"), FB::variant("[]"), FB::variant("{}"),
                                                 FB::variant(0.0), FB::variant(0.0), FB::variant(0.0), FB::variant(0.0),
                                                 FB::variant(0.0), FB::variant(0.0)));

    // The plug-in object goes as well: the scripting object that the page kept still answers.
    plugin->destroy();
    plugin.reset();
    EXPECT_NO_THROW(api->loadearthfile(FB::variant(earthFile("c.earth"))));
    EXPECT_TRUE(api->removelayer(FB::variant("roads")));
}

// ---------------------------------------------------------------------------------------------------------------
// Threads: the page adds and removes features while frames read the scene.

using VeltraGlobeThreads = VeltraGlobe;

TEST_F(VeltraGlobeThreads, FeaturesChangeUnderTheSceneLockWhileFramesRun)
{
    ASSERT_NE(loadGlobe(), nullptr);
    ASSERT_TRUE(api->createlayer(FB::variant("roads"), FB::variant(kStyle)));
    std::shared_ptr<osgMainApp> app = plugin->getApp();
    osg::ref_ptr<osg::Group> root = app->root;

    // The frame loop's side: each frame takes the lock and reads the whole scene, primitive sets included.
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread frameLoop([&] {
        while (!stop)
        {
            SceneLock::Guard hold = app->viewer->sceneLock().acquireForFrame();
            taggedSets(root.get());
            hold.release();
            ++frames;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    NotifyCapture quiet(osg::WARN);
    const int rounds = 20;
    for (int i = 0; i < rounds; ++i)
    {
        EXPECT_TRUE(api->addfeatures(FB::variant("roads"), FB::variant(diamonds({100 + i, 200 + i}))));
        EXPECT_TRUE(api->removefeature(FB::variant("roads"), FB::variant(std::to_string(200 + i))));
    }
    // Let at least a few frames run after the last change.
    const int seen = frames;
    while (frames < seen + 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
    frameLoop.join();

    auto sets = taggedSets(layerNode("roads"));
    for (int i = 0; i < rounds; ++i)
    {
        EXPECT_GT(sets[100 + i], 0u) << i;
        EXPECT_EQ(sets.count(200 + i), 0u) << i;
    }
    EXPECT_GT(frames, 3);
}

// ---------------------------------------------------------------------------------------------------------------
// The plug-in library in a real window.

using VeltraGlobeRender = veltra::test::PluginInWindow;

TEST_F(VeltraGlobeRender, CameraReportsReachThePageAndThePageMayCloseMidFlight)
{
    TempDir folder;
    const std::string earth = folder.write("globe.earth", kGlobe);
    const std::string model = writeModel(folder, {"Part[101]", "Part[102]"});
    create();
    EXPECT_EQ(call("getviewpoint").text, "");

    ASSERT_TRUE(call("loadearthfile", {text(earth)}).ok);
    EXPECT_TRUE(page->pumpUntil([&] { return !call("getviewpoint").text.empty(); }, std::chrono::seconds(20)))
        << "the camera takes up the map in the next frame";
    ASSERT_TRUE(call("enablepostinTomap2d", {flag(true)}).ok);
    CallResult created = call("createlayer", {text("roads"), text(kStyle)});
    EXPECT_TRUE(created.ok && created.type == NPVariantType_Bool && created.flag);
    EXPECT_TRUE(call("addfeatures", {text("roads"), text(diamonds({1, 2}))}).flag);
    EXPECT_TRUE(call("removefeature", {text("roads"), text("1")}).flag);
    EXPECT_FALSE(call("setpitchrange", {text("steep"), number(80)}).ok);

    // A release over the globe: the frame leaves the report, a later mouse-up runs it in the page.
    auto reported = [&] {
        for (const std::string& script : browser.evaluated())
            if (script.rfind("changepostion(", 0) == 0)
                return true;
        return false;
    };
    button(ButtonPress, 160, 120);
    button(ButtonRelease, 160, 120);
    EXPECT_TRUE(page->pumpUntil(
        [&] {
            button(ButtonRelease, 5, 5);
            return reported();
        },
        std::chrono::seconds(20)));

    // A window attached again brings a fresh viewer, and a fresh globe in it.
    detach();
    ASSERT_EQ(plugin.setwindow(browser.npp(), &npWindow), NPERR_NO_ERROR);
    EXPECT_EQ(call("getviewpoint").text, "") << "the new viewer shows no globe yet";
    ASSERT_TRUE(call("loadearthfile", {text(earth)}).ok);
    EXPECT_TRUE(page->pumpUntil([&] { return !call("getviewpoint").text.empty(); }, std::chrono::seconds(20)));

    // A flight and a playing schedule are still going when the page closes.
    ASSERT_TRUE(
        call("setviewpoint", {text(R"({"long":"116.5","lat":"39.9","pitch":"-45","range":"5000","time":"5"})")}).ok);
    ASSERT_TRUE(call("loadProgressControlToEarth", {text(model), text(kTasks), text(kBinding), number(116.5),
                                                    number(39.9), number(0), number(0), number(0), number(0)})
                    .flag);
    EXPECT_TRUE(call("setProgressControlSpeed", {number(1)}).flag);
    EXPECT_TRUE(call("startProgressControl").flag);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    plugin.destroy(browser.npp(), nullptr);
    alive = false;
    EXPECT_FALSE(call("getviewpoint").ok) << "the element is gone";
}
