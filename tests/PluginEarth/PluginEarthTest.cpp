#include <PluginEarth/PluginEarth.h>
#include <PluginEarth/findTileNodeVistor.h>

#include "NotifyCapture.h"
#include "TempDir.h"

#include <osgEarth/GeoData>
#include <osgEarthUtil/Sky>

#include <gtest/gtest.h>
#include <osg/GL>
#include <osg/Geode>
#include <osg/PagedLOD>
#include <osg/ShapeDrawable>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgDB/WriteFile>
#include <osgGA/KeySwitchMatrixManipulator>
#include <osgGA/TrackballManipulator>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using osgEarth::Config;
using osgEarth::MapNode;
using veltra::test::NotifyCapture;
using veltra::test::TempDir;

namespace {

const char* const kGlobe = "<map type='geocentric'/>";

std::string withExternal(const std::string& mapAttributes, const std::string& external)
{
    return "<map " + mapAttributes + "><options><profile>" +
           std::string(mapAttributes.find("projected") != std::string::npos ? "spherical-mercator" : "global-geodetic") +
           "</profile></options><external>" + external + "</external></map>";
}

// The parsed form of a JSON text the plug-in answered.
Config parsed(const std::string& json)
{
    Config config;
    EXPECT_TRUE(config.fromJSON(json)) << json;
    return config;
}

class PluginEarthScene : public ::testing::Test
{
protected:
    void SetUp() override
    {
        viewer->setSceneData(root.get());
        plugin->initPlugin(viewer.get(), root.get(), nullptr);
    }

    // Writes `xml` as an earth file and loads it; the map node the plug-in now shows (may be an earlier one).
    MapNode* load(const std::string& xml, const std::string& name = "globe.earth")
    {
        std::string path = dir.write(name, xml);
        plugin->loadearthfile(path);
        return plugin->getMapNode();
    }

    // A small model file the plug-in can read.
    std::string modelFile()
    {
        osg::ref_ptr<osg::Geode> geode = new osg::Geode;
        geode->setName("model");
        geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
        const std::string path = dir.file("model.osgt");
        EXPECT_TRUE(osgDB::writeNodeFile(*geode, path));
        return path;
    }

    TempDir dir;
    osg::ref_ptr<osgViewer::Viewer> viewer = new osgViewer::Viewer;
    osg::ref_ptr<osg::Group> root = new osg::Group;
    osg::ref_ptr<PluginEarth> plugin = new PluginEarth;
};

} // namespace

TEST(PluginEarth, LifecycleLinesObjectNamesAndClones)
{
    testing::internal::CaptureStdout();
    osg::ref_ptr<PluginEarth> plugin = new PluginEarth;
    osg::ref_ptr<osg::Group> root = new osg::Group;
    plugin->initPlugin(nullptr, root.get(), nullptr);
    EXPECT_STREQ(plugin->className(), "PluginEarth");
    EXPECT_STREQ(plugin->libraryName(), "plugin");

    osg::ref_ptr<PluginEarth> copy = static_cast<PluginEarth*>(plugin->clone(osg::CopyOp::SHALLOW_COPY));
    EXPECT_EQ(copy->getEarthGroup(), plugin->getEarthGroup()) << "a copy shares the groups";
    EXPECT_EQ(copy->getEarthManipulator(), plugin->getEarthManipulator());
    osg::ref_ptr<PluginEarth> fresh = static_cast<PluginEarth*>(plugin->cloneType());
    EXPECT_NE(fresh->getEarthGroup(), plugin->getEarthGroup());
    copy = nullptr;
    fresh = nullptr;
    plugin = nullptr;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "PluginEarth插件执行构造...\n初始化插件!\nPluginEarth插件执行构造...\n插件执行析够!\n插件执行析够!\n"
              "插件执行析够!\n");
}

TEST_F(PluginEarthScene, InitPluginHooksTheGroupsIntoTheRootOnce)
{
    ASSERT_EQ(root->getNumChildren(), 2u);
    EXPECT_EQ(root->getChild(0), plugin->getModelGroup());
    EXPECT_EQ(root->getChild(1), plugin->getEarthGroup());

    osg::ref_ptr<osg::Group> other = new osg::Group;
    plugin->initPlugin(viewer.get(), root.get(), nullptr);
    plugin->initPlugin(viewer.get(), other.get(), nullptr);
    EXPECT_EQ(root->getNumChildren(), 0u) << "a new root takes the groups from the earlier one";
    EXPECT_EQ(other->getNumChildren(), 2u);

    NotifyCapture warnings(osg::WARN);
    plugin->initPlugin(viewer.get(), nullptr, nullptr);
    EXPECT_TRUE(warnings.contains("without a scene root"));
    EXPECT_EQ(other->getNumChildren(), 2u);
}

TEST(PluginEarth, CallsBeforeInitPluginOrAnyEarthFileAreHarmless)
{
    osg::ref_ptr<PluginEarth> plugin = new PluginEarth;
    osg::ref_ptr<osg::Node> node = new osg::Group;
    osg::Vec3d position(116.5, 39.9, 0.0), orientation;
    plugin->loadModelToEarth(node.get(), position, orientation);
    plugin->loadModelToEarth2(node.get(), position, orientation);
    std::string missing = "/nonexistent/model.osgt";
    plugin->loadModelToEarth2(missing, position, orientation);
    plugin->QueryModelInfo(true);
    plugin->enablePostinTomap2D(true);
    plugin->addEarthManipulator();
    plugin->setPitchRange(-80, -10);
    EXPECT_EQ(plugin->getModelGroup()->getNumChildren(), 0u);
    EXPECT_EQ(plugin->getMapNode(), nullptr);
    EXPECT_EQ(plugin->getSRS(), nullptr);
    EXPECT_EQ(plugin->getlevel(), -1);
    EXPECT_EQ(plugin->getviewpoint(), "") << "the manipulator's viewpoint has no SRS yet";
    EXPECT_EQ(plugin->createMatrixTransform(nullptr, position, orientation), nullptr);

    const Config camera = parsed(plugin->camerapostion());
    EXPECT_TRUE(camera.hasChild("long"));
    EXPECT_TRUE(camera.hasChild("lat"));
    EXPECT_EQ(camera.value("level"), "-1");
}

TEST_F(PluginEarthScene, EarthFileJoinsEarthGroupAndSecondKeepsFirstButAFailedLoadChangesNothing)
{
    MapNode* first = load(kGlobe, "a.earth");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(plugin->getSRS()->isGeographic());
    EXPECT_EQ(plugin->getScanHandler()->getSRS(), plugin->getSRS());

    MapNode* second = load(kGlobe, "b.earth");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    ASSERT_EQ(plugin->getEarthGroup()->getNumChildren(), 2u);
    EXPECT_EQ(plugin->getEarthGroup()->getChild(0), first);

    NotifyCapture warnings(osg::WARN);
    EXPECT_EQ(load("<notamap/>", "c.earth"), second) << "the map shown stays the plug-in's map";
    EXPECT_TRUE(warnings.contains("c.earth"));
    std::string absent = dir.file("absent.earth");
    plugin->loadearthfile(absent);
    EXPECT_EQ(plugin->getMapNode(), second);
    EXPECT_EQ(plugin->getEarthGroup()->getNumChildren(), 2u);
}

TEST_F(PluginEarthScene, SkyDriverFollowsTheMapAndTheTerrainMovesUnderIt)
{
    struct Case
    {
        const char* map;
        const char* external;
        const char* driver; // null: no sky
    };
    const Case cases[] = {{"type='geocentric'", "<viewpoints/>", nullptr},
                          {"type='geocentric'", "<sky/>", "simple"},
                          {"type='projected'", "<sky hours='6'/>", "gl"},
                          {"type='geocentric'", "<sky driver='gl'/>", "gl"}};
    int n = 0;
    for (const Case& c : cases)
    {
        MapNode* map = load(withExternal(c.map, c.external), "sky" + std::to_string(n++) + ".earth");
        ASSERT_NE(map, nullptr) << c.external;
        auto* sky = dynamic_cast<osgEarth::Util::SkyNode*>(map->getChild(0));
        if (!c.driver)
        {
            EXPECT_EQ(sky, nullptr);
            EXPECT_EQ(map->getTerrainEngine()->getParent(0), map);
            continue;
        }
        ASSERT_NE(sky, nullptr) << c.external;
        EXPECT_EQ(sky->getDriverName(), c.driver) << c.map;
        EXPECT_EQ(map->getNumChildren(), 1u) << "the sky is the map node's only child";
        EXPECT_EQ(map->getTerrainEngine()->getParent(0), sky);
        EXPECT_TRUE(sky->containsNode(map->getModelLayerGroup()));
        EXPECT_EQ(viewer->getLight(), sky->getSunLight()) << "the sky lights the view";
    }
}

TEST_F(PluginEarthScene, ManipulatorTakesKeyThreeOfTheSwitchAndTheCameraSuitsAGlobe)
{
    osg::ref_ptr<osgGA::KeySwitchMatrixManipulator> keys = new osgGA::KeySwitchMatrixManipulator;
    keys->addMatrixManipulator('1', "Trackball", new osgGA::TrackballManipulator);
    keys->addMatrixManipulator('2', "Other", new osgGA::TrackballManipulator);
    viewer->setCameraManipulator(keys.get());
    ASSERT_NE(load(kGlobe), nullptr);

    EXPECT_EQ(keys->getCurrentMatrixManipulator(), plugin->getEarthManipulator());
    EXPECT_EQ(keys->getKeyManipMap().count('2'), 0u);
    EXPECT_EQ(keys->getKeyManipMap().count('3'), 1u);
    osg::Camera* camera = viewer->getCamera();
    EXPECT_DOUBLE_EQ(camera->getNearFarRatio(), 0.000008);
    EXPECT_FLOAT_EQ(camera->getSmallFeatureCullingPixelSize(), -1.0f);
    EXPECT_NE(camera->getClearMask() & GL_STENCIL_BUFFER_BIT, 0u);

    // A second earth file leaves the switch on the earth manipulator.
    ASSERT_NE(load(kGlobe, "again.earth"), nullptr);
    EXPECT_EQ(keys->getCurrentMatrixManipulator(), plugin->getEarthManipulator());

    // Without a key switch the view keeps its manipulator.
    osg::ref_ptr<osgGA::TrackballManipulator> trackball = new osgGA::TrackballManipulator;
    viewer->setCameraManipulator(trackball.get());
    plugin->addEarthManipulator();
    EXPECT_EQ(viewer->getCameraManipulator(), trackball.get());
}

TEST_F(PluginEarthScene, ViewpointsRoundTripWithoutTheirSrsAndCameraReportsTheTileLevel)
{
    ASSERT_NE(load(kGlobe), nullptr);
    plugin->setviewpoint(R"({"long":"116.5","lat":"39.9","heading":"10","pitch":"-45","range":"5000"})");
    const std::string text = plugin->getviewpoint();
    const Config written = parsed(text);
    EXPECT_FALSE(written.hasChild("srs")) << text;
    EXPECT_NEAR(written.value<double>("long", 0), 116.5, 1e-9) << text;
    EXPECT_NEAR(written.value<double>("lat", 0), 39.9, 1e-9);
    EXPECT_NEAR(written.value<double>("range", 0), 5000, 1e-6);

    plugin->setviewpoint(0, 0, 0, 0, -60, 1e6, 0);
    EXPECT_NEAR(parsed(plugin->getviewpoint()).value<double>("lat", 1), 0.0, 1e-9);
    plugin->setviewpoint(text);
    EXPECT_EQ(plugin->getviewpoint(), text) << "what getviewpoint wrote, setviewpoint reads";

    // Broken or incomplete descriptions change nothing.
    for (const char* bad : {"{", "{\"long\":\"1\",\"lat\":\"2\"}", "[]", "", "{\"range\":\"far\"}"})
    {
        plugin->setviewpoint(bad);
        EXPECT_EQ(plugin->getviewpoint(), text) << bad;
    }
    plugin->setviewpoint(1, 2, 3, 0, -45, std::nan(""), 0);
    EXPECT_EQ(plugin->getviewpoint(), text);

    // The engine's first tiles are level 1: from far away the fallback tile, from close by the finest below.
    const Config camera = parsed(plugin->camerapostion());
    EXPECT_EQ(camera.value("level"), "1");
    EXPECT_NEAR(camera.value<double>("long", 0), 116.5, 1e-9);
    EXPECT_EQ(plugin->getlevel(), 1);
}

TEST_F(PluginEarthScene, PitchRangeReachesTheManipulatorSettings)
{
    plugin->setPitchRange(-70.0, -20.0);
    EXPECT_DOUBLE_EQ(plugin->getEarthManipulator()->getSettings()->getMinPitch(), -70.0);
    EXPECT_DOUBLE_EQ(plugin->getEarthManipulator()->getSettings()->getMaxPitch(), -20.0);
    plugin->setPitchRange(std::nan(""), 0.0);
    EXPECT_DOUBLE_EQ(plugin->getEarthManipulator()->getSettings()->getMinPitch(), -70.0);
}

// ---------------------------------------------------------------------------------------------------------------
// Placement

TEST_F(PluginEarthScene, PlacementIsTheEastNorthUpFrameTurnedInItself)
{
    MapNode* map = load(kGlobe);
    ASSERT_NE(map, nullptr);
    osg::Vec3d position(116.5, 39.9, 30.0);
    osg::Matrixd enu;
    ASSERT_TRUE(osgEarth::GeoPoint(plugin->getSRS(), position, osgEarth::ALTMODE_ABSOLUTE).createLocalToWorld(enu));
    const auto worldAxis = [&](const osg::Vec3d& local) { return local * enu - osg::Vec3d() * enu; };
    const osg::Vec3d east(1, 0, 0), north(0, 1, 0), up(0, 0, 1);

    struct Case
    {
        osg::Vec3d orientation;
        osg::Vec3d local;    // an axis of the model
        osg::Vec3d expected; // where it points, in the east-north-up frame
    };
    const Case cases[] = {{{0, 0, 0}, east, east},  {{90, 0, 0}, east, north}, {{90, 0, 0}, up, up},
                          {{0, 90, 0}, north, up},  {{0, 0, 90}, up, east},    {{180, 0, 0}, north, -north}};
    for (const Case& c : cases)
    {
        osg::Vec3d orientation = c.orientation;
        osg::ref_ptr<osg::MatrixTransform> t = plugin->createMatrixTransform(map, position, orientation);
        ASSERT_TRUE(t.valid());
        EXPECT_LT((osg::Vec3d() * t->getMatrix() - osg::Vec3d() * enu).length(), 1e-6) << "origin at the point";
        const osg::Vec3d got = c.local * t->getMatrix() - osg::Vec3d() * t->getMatrix();
        EXPECT_LT((got - worldAxis(c.expected)).length(), 1e-9)
            << c.orientation.x() << " " << c.orientation.y() << " " << c.orientation.z();
    }
    osg::Vec3d zero;
    osg::ref_ptr<osg::MatrixTransform> plain = plugin->createMatrixTransform(map, position, zero);
    EXPECT_EQ(plain->getMatrix(), enu) << "no turn leaves the frame exactly as it is";
}

TEST_F(PluginEarthScene, ModelDescriptionsPlaceAtPositionOrLocationAndRefuseBadNumbers)
{
    ASSERT_NE(load(kGlobe), nullptr);
    const std::string url = modelFile();
    struct Case
    {
        std::string members; // besides "url"
        bool placed;
        osg::Vec3d at;
        std::string log;
    };
    const Case cases[] = {
        {R"("position":"116.5 39.9 30")", true, {116.5, 39.9, 30}, "model is load position 116.5 39.9 30"},
        {R"("location":"10 20 5")", true, {10, 20, 5}, "model is load position 10 20 5"},
        {R"("position":"1 2 3","location":"10 20 5")", true, {1, 2, 3}, "model is load position 1 2 3"},
        {R"("orientation":"0 0 0")", true, {0, 0, 0}, "model is load position 0 0 0"},
        {R"("position":"7")", true, {7, 7, 7}, "model is load position 7 7 7"},
        {R"("position":"north of here")", false, {}, "unreadable position"},
        {R"("position":"1 2 3 4")", false, {}, "unreadable position"},
        {R"("position":"nan 1 2")", false, {}, "unreadable position"},
        {R"("position":"1 2 3","orientation":"a b c")", false, {}, "unreadable position"},
    };
    for (const Case& c : cases)
    {
        NotifyCapture log(osg::NOTICE);
        const std::size_t before = plugin->getModelGroup()->getNumChildren();
        plugin->loadModelToEarth(R"({"url":")" + url + "\"," + c.members + "}");
        EXPECT_TRUE(log.contains("loadModelToEarth  " + url)) << c.members;
        EXPECT_TRUE(log.contains(c.log)) << c.members;
        ASSERT_EQ(plugin->getModelGroup()->getNumChildren(), before + (c.placed ? 1 : 0)) << c.members;
        if (!c.placed)
            continue;
        auto* t = dynamic_cast<osg::MatrixTransform*>(plugin->getModelGroup()->getChild(before));
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->getChild(0)->getName(), "model");
        osg::Vec3d world;
        ASSERT_TRUE(osgEarth::GeoPoint(plugin->getSRS(), c.at).toWorld(world));
        EXPECT_LT((osg::Vec3d() * t->getMatrix() - world).length(), 1e-6) << c.members;
    }

    NotifyCapture log(osg::NOTICE);
    plugin->loadModelToEarth(R"({"url":")" + dir.file("missing.osgt") + R"(","position":"1 2 3"})");
    EXPECT_TRUE(log.contains("model is load failed1 2 3"));
    for (const char* noUrl : {R"({"position":"1 2 3"})", "{not json", ""})
        plugin->loadModelToEarth(noUrl);
    EXPECT_TRUE(log.contains("model not load  simple json this {\"position\": \"121.561 29.8768 30\", "
                             "\"orientation\": \"0 0 0\", \"url\": \"http://"));
    EXPECT_TRUE(log.contains(".osgb\"\t}"));
}

// ---------------------------------------------------------------------------------------------------------------
// Switches and the scene-change runner

namespace {

class CountingCallback : public osg::NodeCallback
{
};

struct Listener : public MarloKits::PickScanInfoHandler::pickCallBack
{
};

// Records reads made while a scene change runs: files must be read before the change, not inside it.
struct ReadWatch : public osgDB::Registry::ReadFileCallback
{
    explicit ReadWatch(const bool& insideChange) : inside(insideChange) {}
    osgDB::ReaderWriter::ReadResult readNode(const std::string& file, const osgDB::Options* options) override
    {
        readsInside += inside ? 1 : 0;
        return osgDB::Registry::ReadFileCallback::readNode(file, options);
    }
    const bool& inside;
    int readsInside = 0;
};

} // namespace

TEST_F(PluginEarthScene, MapEventCallbackIsAttachedOnceAndTakenFromWhereItWasPut)
{
    osg::ref_ptr<CountingCallback> callback = new CountingCallback;
    plugin->addCallBack(callback.get());
    plugin->enablePostinTomap2D(true);
    EXPECT_EQ(callback->referenceCount(), 1) << "nothing to attach to before an earth file; no reference taken";

    MapNode* first = load(kGlobe, "a.earth");
    plugin->enablePostinTomap2D(true);
    plugin->enablePostinTomap2D(true);
    EXPECT_EQ(first->getEventCallback(), callback.get());
    EXPECT_EQ(callback->getNestedCallback(), nullptr) << "switching on twice attaches once";

    MapNode* second = load(kGlobe, "b.earth");
    plugin->enablePostinTomap2D(false);
    EXPECT_EQ(first->getEventCallback(), nullptr) << "off takes it from the map it was put on";
    EXPECT_EQ(second->getEventCallback(), nullptr);

    plugin->enablePostinTomap2D(true);
    osg::ref_ptr<CountingCallback> replacement = new CountingCallback;
    plugin->addCallBack(replacement.get());
    plugin->enablePostinTomap2D(false);
    EXPECT_EQ(second->getEventCallback(), nullptr) << "a replaced callback is still switched off";

    plugin->addCallBack(replacement.get());
    replacement = nullptr; // its owner let go: the plug-in holds no reference and must not use it
    plugin->enablePostinTomap2D(true);
    EXPECT_EQ(second->getEventCallback(), nullptr);
}

TEST_F(PluginEarthScene, PickingSwitchesTheViewsHandlerAndListenersReachTheHandler)
{
    const auto handlers = [&] {
        const auto& list = viewer->getEventHandlers();
        return std::count(list.begin(), list.end(), plugin->getScanHandler());
    };
    plugin->QueryModelInfo(true);
    plugin->QueryModelInfo(true);
    EXPECT_EQ(handlers(), 1);
    plugin->QueryModelInfo(false);
    EXPECT_EQ(handlers(), 0);

    osg::observer_ptr<Listener> watched;
    {
        osg::ref_ptr<Listener> listener = new Listener;
        watched = listener.get();
        plugin->addScanInfoCallBack(listener.get());
        plugin->addScanInfoCallBack(nullptr);
    }
    EXPECT_TRUE(watched.valid()) << "the handler keeps its listeners";
    EXPECT_EQ(plugin->getScanHandler()->getNumCallBacks(), 1u);

    // The viewer gone: the switch does nothing, and a globe still loads (without camera or sky light).
    viewer = nullptr;
    plugin->QueryModelInfo(true);
    EXPECT_NE(load(withExternal("type='geocentric'", "<sky/>")), nullptr);
    EXPECT_EQ(plugin->getEarthGroup()->getNumChildren(), 1u);
}

TEST_F(PluginEarthScene, SceneChangesGoThroughTheRunnerAndFilesAreReadBeforeIt)
{
    bool inside = false;
    int changes = 0;
    plugin->setSceneChangeRunner([&](const std::function<void()>& change) {
        ++changes;
        inside = true;
        change();
        inside = false;
    });
    osg::ref_ptr<ReadWatch> watch = new ReadWatch(inside);
    osg::ref_ptr<osgDB::Registry::ReadFileCallback> previous = osgDB::Registry::instance()->getReadFileCallback();
    osgDB::Registry::instance()->setReadFileCallback(watch.get());

    const int before = changes;
    ASSERT_NE(load(kGlobe), nullptr);
    EXPECT_EQ(changes, before + 1) << "one change attaches the map, its sky and the manipulator";
    plugin->loadModelToEarth(R"({"url":")" + modelFile() + R"(","position":"1 2 3"})");
    EXPECT_EQ(changes, before + 2);
    EXPECT_EQ(plugin->getModelGroup()->getNumChildren(), 1u);
    osgDB::Registry::instance()->setReadFileCallback(previous.get());
    EXPECT_EQ(watch->readsInside, 0);

    for (const auto& call : std::vector<std::function<void()>>{
             [&] { plugin->QueryModelInfo(true); }, [&] { plugin->setviewpoint(1, 2, 3, 0, -45, 1000, 0); },
             [&] { plugin->setPitchRange(-80, -10); }, [&] { plugin->getlevel(); },
             [&] { plugin->addScanInfoCallBack(new Listener); }})
    {
        const int count = changes;
        call();
        EXPECT_EQ(changes, count + 1);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Tile level and the reader

TEST(findTileNodeVistor, LevelOfTheFinestTileBelowTheRangeElseTheNearestSwitchIn)
{
    struct Case
    {
        std::vector<std::pair<std::string, float>> tiles; // child name and switch-in distance, one PagedLOD each
        float range;
        int level;
    };
    const Case cases[] = {
        {{{"3/1/2", 1000.0f}, {"5/4/4", 200.0f}, {"6/8/8", 100.0f}}, 500.0f, 5},
        {{{"3/1/2", 1000.0f}, {"4/2/2", 800.0f}}, 500.0f, 4},
        {{{"2/0/0", 0.0f}}, 500.0f, 2},
        {{{"abc/1/2", 200.0f}, {"7/0/0", 100.0f}}, 500.0f, 7},
        {{{"/x/1", 200.0f}, {"99999999999/1/1", 300.0f}, {"-", 50.0f}}, 500.0f, -1},
        {{{" 12/3/4", 200.0f}, {"4x/1/1", 100.0f}}, 500.0f, 12},
        {{{"", 200.0f}, {"///", 100.0f}}, 500.0f, -1},
        {{}, 500.0f, -1},
    };
    for (const Case& c : cases)
    {
        osg::ref_ptr<osg::Group> terrain = new osg::Group;
        for (const auto& [name, switchIn] : c.tiles)
        {
            osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
            osg::ref_ptr<osg::Group> tile = new osg::Group;
            tile->setName(name);
            lod->addChild(tile.get(), switchIn, FLT_MAX);
            lod->setRange(1, 0.0f, switchIn); // a child that is not loaded: skipped
            lod->setFileName(1, "children");
            terrain->addChild(lod.get());
        }
        findTileNodeVistor finder(c.range);
        terrain->accept(finder);
        EXPECT_EQ(finder.pagedLODs.size(), c.tiles.size());
        EXPECT_EQ(finder.getLevel(), c.level) << (c.tiles.empty() ? "" : c.tiles.front().first);
    }
}

TEST(ReaderPluginEarth, HandsOutPluginsForItsExtensionInAnyCase)
{
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension("PluginEarth");
    ASSERT_NE(reader, nullptr) << "registered when the library loads";
    EXPECT_EQ(reader->supportedExtensions().at("pluginearth"), "File system cache for osgEarth");
    for (const char* name : {"a.PluginEarth", "b.pluginearth", "C.PLUGINEARTH"})
    {
        osgDB::ReaderWriter::ReadResult result = reader->readObject(name);
        EXPECT_EQ(result.status(), osgDB::ReaderWriter::ReadResult::FILE_LOADED) << name;
        EXPECT_NE(dynamic_cast<PluginEarth*>(result.getObject()), nullptr) << name;
    }
    for (const char* name : {"world.earth", "PluginEarth", "x.PluginEarth.gz"})
        EXPECT_EQ(reader->readObject(name).status(), osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED) << name;

    osg::ref_ptr<osg::Object> viaRegistry = osgDB::readRefObjectFile("scene.PluginEarth");
    EXPECT_NE(dynamic_cast<PluginEarth*>(viaRegistry.get()), nullptr);
}

// ---------------------------------------------------------------------------------------------------------------
// Threads: a stand-in for the rendering thread walks the scene under the lock the runner takes, while the browser
// thread loads globes and models; every change to what the walker sees must come through the runner.

namespace {

struct SceneWalker : public osg::NodeVisitor
{
    SceneWalker() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Node& node) override
    {
        ++nodes;
        names += node.getName().size();
        traverse(node);
    }
    std::size_t nodes = 0;
    std::size_t names = 0;
};

using PluginEarthThreads = PluginEarthScene;

} // namespace

TEST_F(PluginEarthThreads, ChangeTheSceneOnlyThroughTheRunner)
{
    std::mutex sceneLock;
    std::atomic<bool> done{false};
    plugin->setSceneChangeRunner([&](const std::function<void()>& change) {
        std::lock_guard<std::mutex> hold(sceneLock);
        change();
    });
    std::thread frames([&] {
        while (!done)
        {
            std::lock_guard<std::mutex> hold(sceneLock);
            SceneWalker walker;
            root->accept(walker);
        }
    });
    const std::string model = modelFile();
    for (int i = 0; i < 3; ++i)
    {
        load(withExternal("type='geocentric'", "<sky/>"), "globe" + std::to_string(i) + ".earth");
        plugin->loadModelToEarth(R"({"url":")" + model + R"(","position":"116.5 39.9 0","orientation":"90 0 0"})");
        plugin->setviewpoint(116.5, 39.9, 0, 0, -45, 5000, 0);
        EXPECT_EQ(plugin->getlevel(), 1);
        plugin->QueryModelInfo(i % 2 == 0);
    }
    done = true;
    frames.join();
    EXPECT_EQ(plugin->getEarthGroup()->getNumChildren(), 3u);
    EXPECT_EQ(plugin->getModelGroup()->getNumChildren(), 3u);
}
