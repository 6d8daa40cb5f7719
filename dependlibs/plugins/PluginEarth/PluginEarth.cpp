#include <PluginEarth/PluginEarth.h>

#include <PluginEarth/findTileNodeVistor.h>

#include <osgEarth/Config>
#include <osgEarth/GeoData>
#include <osgEarth/Viewpoint>
#include <osgEarthUtil/Sky>

#include <osg/GL>
#include <osg/Notify>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgGA/KeySwitchMatrixManipulator>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <utility>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

// Reads "x y z" as the page writes it: three numbers, or one number n meaning (n, n, n), or two meaning (x, y, 0).
// An empty text is (0, 0, 0). False for anything else: a word, a fourth number, or a value that is not finite.
bool readVector(const std::string& text, osg::Vec3d& out)
{
    std::istringstream in(text);
    std::vector<double> numbers;
    std::string word;
    while (in >> word)
    {
        char* end = nullptr;
        const double value = std::strtod(word.c_str(), &end);
        if (end == word.c_str() || *end != '\0' || !std::isfinite(value) || numbers.size() == 3)
            return false;
        numbers.push_back(value);
    }
    switch (numbers.size())
    {
    case 0: out.set(0.0, 0.0, 0.0); return true;
    case 1: out.set(numbers[0], numbers[0], numbers[0]); return true;
    case 2: out.set(numbers[0], numbers[1], 0.0); return true;
    default: out.set(numbers[0], numbers[1], numbers[2]); return true;
    }
}

bool allFinite(std::initializer_list<double> values)
{
    for (double value : values)
        if (!std::isfinite(value))
            return false;
    return true;
}

// The sample the page is shown when a description names no model.
const char* const kSampleDescription = "{\"position\": \"121.561 29.8768 30\", \"orientation\": \"0 0 0\", "
                                       "\"url\": \"http://127.0.0.1/models/building.osgb\"\t}";

} // namespace

PluginEarth::PluginEarth()
    : earthGroup(new osg::Group),
      modelGroup(new osg::Group),
      manipulator(new osgEarth::Util::EarthManipulator),
      scanHandler(new MarloKits::PickScanInfoHandler)
{
    std::cout << "PluginEarth插件执行构造..." << std::endl;
}

PluginEarth::PluginEarth(const PluginEarth& other, const osg::CopyOp& copyop)
    : pluginBase(other, copyop),
      earthGroup(other.earthGroup),
      modelGroup(other.modelGroup),
      manipulator(other.manipulator),
      scanHandler(other.scanHandler),
      eventCallback(other.eventCallback),
      _runner(other._runner)
{}

PluginEarth::~PluginEarth()
{
    std::cout << "插件执行析够!" << std::endl;
    scanHandler = nullptr;
    manipulator = nullptr;
    modelGroup = nullptr;
    earthGroup = nullptr;
}

void PluginEarth::initPlugin(osgViewer::Viewer* targetViewer, osg::Group* targetRoot, osgEarth::MapNode*)
{
    std::cout << "初始化插件!" << std::endl;
    if (!targetRoot)
    {
        OSG_WARN << "PluginEarth: initPlugin without a scene root; the globe stays out of the scene" << std::endl;
        return;
    }
    osg::ref_ptr<osg::Group> previous;
    root.lock(previous);
    viewer = targetViewer;
    root = targetRoot;
    osg::ref_ptr<osg::Group> earth = earthGroup;
    osg::ref_ptr<osg::Group> models = modelGroup;
    runSceneChange(_runner, [previous, targetRoot, earth, models] {
        // A second call must not hang the groups twice into one root, nor leave them in the earlier one.
        if (previous.valid())
        {
            previous->removeChild(earth.get());
            previous->removeChild(models.get());
        }
        targetRoot->addChild(earth.get());
        targetRoot->insertChild(0, models.get());
    });
}

void PluginEarth::setSceneChangeRunner(SceneChangeRunner runner)
{
    _runner = std::move(runner);
}

void PluginEarth::loadearthfile(std::string& path)
{
    osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(path, osgDB::Registry::instance()->getOptions());
    osg::ref_ptr<osgEarth::MapNode> map = osgEarth::MapNode::get(node.get());
    if (!map.valid())
    {
        // The map shown so far stays, and so does everything that works on it.
        OSG_WARN << "PluginEarth: no map node in \"" << path << "\"" << std::endl;
        return;
    }
    mapNode = map.get();

    // A reader cache can hand the same map node back; it is in the scene already, with its sky.
    // (Only this thread changes earthGroup's own children, so reading them here is safe.)
    const bool alreadyShown = earthGroup->getChildIndex(map.get()) < earthGroup->getNumChildren();

    osg::ref_ptr<osgEarth::Util::SkyNode> sky;
    const osgEarth::Config skyConfig = map->externalConfig().child("sky");
    if (!alreadyShown && !skyConfig.empty())
    {
        osgEarth::Util::SkyOptions options(skyConfig);
        if (options.getDriver().empty())
        {
            const osgEarth::SpatialReference* srs = map->getMapSRS();
            options.setDriver(srs && srs->isGeographic() ? "simple" : "gl");
        }
        sky = osgEarth::Util::SkyNode::create(options, map.get());
    }

    const osgEarth::Viewpoint home(111.510241, 31.737572, 0, 0, -90, 18054283.0, map->getMapSRS());
    osg::ref_ptr<osgViewer::Viewer> view;
    viewer.lock(view);
    runSceneChange(_runner, [this, map, sky, home, view, alreadyShown] {
        // The map joins the scene before the manipulator is selected: selecting hands the manipulator the scene,
        // and it takes up the map it finds there at once instead of at the next frame.
        if (!alreadyShown)
            earthGroup->addChild(map.get());
        installManipulator();
        if (sky.valid())
        {
            sky->attach(view.get(), 0);
            // The sky lights its own subgraph, so the terrain and model layers move under it.
            const unsigned count = map->getNumChildren();
            for (unsigned i = 0; i < count; ++i)
                sky->addChild(map->getChild(i));
            map->removeChildren(0, count);
            map->addChild(sky.get());
        }
        manipulator->setHomeViewpoint(home, 0.0);
        manipulator->setNode(map.get());
        scanHandler->setSRS(map->getMap()->getSRS());
    });
}

void PluginEarth::addEarthManipulator()
{
    runSceneChange(_runner, [this] { installManipulator(); });
}

void PluginEarth::installManipulator()
{
    osg::ref_ptr<osgViewer::Viewer> view;
    if (!viewer.lock(view))
        return;
    if (osg::Camera* camera = view->getCamera())
    {
        camera->setNearFarRatio(0.000008);
        camera->setSmallFeatureCullingPixelSize(-1.0f);
        camera->setClearMask(camera->getClearMask() | GL_STENCIL_BUFFER_BIT);
        const osg::GraphicsContext* context = camera->getGraphicsContext();
        const osg::GraphicsContext::Traits* traits = context ? context->getTraits() : nullptr;
        // A window of no height has no aspect ratio; its projection is left alone.
        if (traits && traits->width > 0 && traits->height > 0)
            camera->setProjectionMatrixAsPerspective(
                30.0, static_cast<double>(traits->width) / static_cast<double>(traits->height), 1.0, 10000.0);
    }
    auto* keys = dynamic_cast<osgGA::KeySwitchMatrixManipulator*>(view->getCameraManipulator());
    if (!keys)
        return;
    keys->addMatrixManipulator('3', "Earth", manipulator.get());
    // Select the earth entry by its position in key order (the third with keys '1' and '2'), found rather than
    // assumed, so a switch with fewer keys still ends on the earth manipulator.
    unsigned index = 0;
    for (const auto& entry : keys->getKeyManipMap())
    {
        if (entry.first == '3')
            break;
        ++index;
    }
    keys->selectMatrixManipulator(index);
    keys->getKeyManipMap().erase('2');
}

void PluginEarth::loadModelToEarth(std::string description)
{
    osgEarth::Config config;
    config.fromJSON(description); // malformed text logs why and leaves the config empty: no "url"
    if (!config.hasValue("url"))
    {
        OSG_NOTICE << "model not load  simple json this " << kSampleDescription << std::endl;
        return;
    }
    // On Linux the current code page is UTF-8, so the url goes out as it is.
    const std::string url = config.value("url");
    OSG_NOTICE << "loadModelToEarth  " << url << std::endl;

    const std::string positionText = config.hasChild("position") ? config.value("position") : config.value("location");
    const std::string orientationText = config.value("orientation");
    osg::Vec3d position;
    osg::Vec3d orientation;
    // Checked before the read, so a bad description costs no download.
    if (!readVector(positionText, position) || !readVector(orientationText, orientation))
    {
        OSG_WARN << "PluginEarth: unreadable position \"" << positionText << "\" or orientation \""
                 << orientationText << "\" for " << url << "; nothing placed" << std::endl;
        return;
    }

    osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(url, osgDB::Registry::instance()->getOptions());
    if (!node.valid())
    {
        OSG_NOTICE << "model is load failed" << position.x() << " " << position.y() << " " << position.z()
                   << std::endl;
        return;
    }
    OSG_NOTICE << "model is load position " << position.x() << " " << position.y() << " " << position.z()
               << std::endl;
    loadModelToEarth(node.get(), position, orientation);
}

void PluginEarth::loadModelToEarth(osg::Node* node, osg::Vec3d& position, osg::Vec3d& orientation)
{
    placeNode(node, position, orientation);
}

void PluginEarth::loadModelToEarth2(osg::Node* node, osg::Vec3d& position, osg::Vec3d& orientation)
{
    placeNode(node, position, orientation);
}

void PluginEarth::loadModelToEarth2(std::string& path, osg::Vec3d& position, osg::Vec3d& orientation)
{
    if (!getMapNode())
        return;
    osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(path, osgDB::Registry::instance()->getOptions());
    placeNode(node.get(), position, orientation);
}

void PluginEarth::placeNode(osg::Node* node, osg::Vec3d& position, osg::Vec3d& orientation)
{
    osg::ref_ptr<osgEarth::MapNode> map;
    if (!node || !mapNode.lock(map))
        return;
    osg::ref_ptr<osg::MatrixTransform> transform = createMatrixTransform(map.get(), position, orientation);
    if (!transform.valid())
        return;
    transform->addChild(node);
    osg::ref_ptr<osg::Group> models = modelGroup;
    runSceneChange(_runner, [models, transform] { models->addChild(transform.get()); });
}

osg::MatrixTransform* PluginEarth::createMatrixTransform(osgEarth::MapNode* map, osg::Vec3d& position,
                                                         osg::Vec3d& orientation)
{
    if (!map || !map->getMap() || !map->getMap()->getProfile())
        return nullptr;
    const osgEarth::SpatialReference* srs = map->getMap()->getProfile()->getSRS();
    const osgEarth::GeoPoint point(srs, position, osgEarth::ALTMODE_ABSOLUTE);
    osg::Matrixd matrix;
    if (!point.createLocalToWorld(matrix) || !matrix.valid())
    {
        OSG_WARN << "PluginEarth: cannot place a model at " << position.x() << " " << position.y() << " "
                 << position.z() << std::endl;
        return nullptr;
    }
    const double a = orientation.x();
    const double b = orientation.y();
    const double c = orientation.z();
    if (a != 0.0 || b != 0.0 || c != 0.0)
    {
        // Pre-multiplied, so the turn happens in the east-north-up frame: a about up, b about east, c about north.
        const osg::Matrixd rotation =
            osg::Matrixd::rotate(b * kPi / 180.0, osg::Vec3d(1.0, 0.0, 0.0), a * kPi / 180.0,
                                 osg::Vec3d(0.0, 0.0, 1.0), c * kPi / 180.0, osg::Vec3d(0.0, 1.0, 0.0));
        matrix.preMult(rotation);
    }
    return new osg::MatrixTransform(matrix);
}

void PluginEarth::setviewpoint(std::string json)
{
    if (!manipulator.valid())
        return;
    osgEarth::Config config;
    if (!config.fromJSON(json))
        return;
    const osgEarth::Viewpoint vp(config);
    if (!vp.isValid())
        return;
    double time = config.value<double>("time", 0.0);
    if (!std::isfinite(time))
        time = 0.0;
    osg::ref_ptr<osgEarth::Util::EarthManipulator> target = manipulator;
    runSceneChange(_runner, [target, vp, time] { target->setViewpoint(vp, time); });
}

void PluginEarth::setviewpoint(double x, double y, double z, double heading, double pitch, double range,
                               double duration)
{
    if (!manipulator.valid())
        return;
    if (!allFinite({x, y, z, heading, pitch, range, duration}))
    {
        OSG_WARN << "PluginEarth: a viewpoint with a value that is not a number is ignored" << std::endl;
        return;
    }
    const osgEarth::Viewpoint vp(x, y, z, heading, pitch, range, nullptr);
    osg::ref_ptr<osgEarth::Util::EarthManipulator> target = manipulator;
    runSceneChange(_runner, [target, vp, duration] { target->setViewpoint(vp, duration); });
}

std::string PluginEarth::getviewpoint()
{
    if (!manipulator.valid())
        return std::string();
    osgEarth::Config config;
    runSceneChange(_runner, [this, &config] { config = manipulator->getViewpoint().getConfig(); });
    if (!config.hasChild("srs"))
        return std::string();
    config.remove("srs");
    return config.toJSON(false);
}

std::string PluginEarth::camerapostion()
{
    if (!manipulator.valid())
        return std::string();
    osgEarth::Viewpoint vp;
    int level = -1;
    runSceneChange(_runner, [this, &vp, &level] {
        vp = manipulator->getViewpoint();
        level = levelNow();
    });
    osgEarth::Config config;
    config.add("long", vp.x());
    config.add("lat", vp.y());
    config.add("level", std::to_string(level));
    return config.toJSON(true);
}

int PluginEarth::getlevel()
{
    int level = -1;
    runSceneChange(_runner, [this, &level] { level = levelNow(); });
    return level;
}

int PluginEarth::levelNow()
{
    osg::ref_ptr<osgEarth::MapNode> map;
    if (!manipulator.valid() || !mapNode.lock(map))
        return -1;
    findTileNodeVistor finder(static_cast<float>(manipulator->getViewpoint().getRange()));
    if (osg::Node* engine = map->getTerrainEngine())
        engine->accept(finder);
    return finder.getLevel();
}

void PluginEarth::setPitchRange(double minPitch, double maxPitch)
{
    if (!manipulator.valid())
        return;
    if (!allFinite({minPitch, maxPitch}))
    {
        OSG_WARN << "PluginEarth: a pitch range that is not a number is ignored" << std::endl;
        return;
    }
    osg::ref_ptr<osgEarth::Util::EarthManipulator> target = manipulator;
    runSceneChange(_runner, [target, minPitch, maxPitch] {
        osg::ref_ptr<osgEarth::Util::EarthManipulator::Settings> settings = target->getSettings();
        settings->setMinMaxPitch(minPitch, maxPitch);
        target->applySettings(settings.get());
    });
}

void PluginEarth::enablePostinTomap2D(bool on)
{
    osg::ref_ptr<osgEarth::MapNode> map;
    if (!mapNode.lock(map))
        return;
    osg::ref_ptr<osg::NodeCallback> callback;
    eventCallback.lock(callback);
    runSceneChange(_runner, [this, on, map, callback] {
        // Taken off first in both cases: a callback added twice would become its own nested callback.
        detachEventCallback();
        if (on && callback.valid())
        {
            map->addEventCallback(callback.get());
            _callbackHost = map.get();
            _attachedCallback = callback.get();
        }
    });
}

void PluginEarth::detachEventCallback()
{
    osg::ref_ptr<osg::Node> host;
    osg::ref_ptr<osg::NodeCallback> attached;
    if (_callbackHost.lock(host) && _attachedCallback.lock(attached))
        host->removeEventCallback(attached.get());
    _callbackHost = nullptr;
    _attachedCallback = nullptr;
}

void PluginEarth::addCallBack(osg::NodeCallback* callback)
{
    eventCallback = callback;
}

void PluginEarth::QueryModelInfo(bool on)
{
    osg::ref_ptr<osgViewer::Viewer> view;
    if (!scanHandler.valid() || !viewer.lock(view))
        return;
    osg::ref_ptr<MarloKits::PickScanInfoHandler> handler = scanHandler;
    runSceneChange(_runner, [view, handler, on] {
        // The view ignores a handler it already has, so switching on twice adds it once.
        if (on)
            view->addEventHandler(handler.get());
        else
            view->removeEventHandler(handler.get());
    });
}

void PluginEarth::addScanInfoCallBack(MarloKits::PickScanInfoHandler::pickCallBack* callback)
{
    if (!scanHandler.valid() || !callback)
        return;
    osg::ref_ptr<MarloKits::PickScanInfoHandler> handler = scanHandler;
    osg::ref_ptr<MarloKits::PickScanInfoHandler::pickCallBack> listener = callback;
    runSceneChange(_runner, [handler, listener] { handler->addCallBack(listener.get()); });
}

osgEarth::Util::EarthManipulator* PluginEarth::getEarthManipulator()
{
    return manipulator.get();
}

osgEarth::MapNode* PluginEarth::getMapNode()
{
    // A plain pointer is all the interface gives; it stays good while the map node is in the scene.
    osg::ref_ptr<osgEarth::MapNode> map;
    return mapNode.lock(map) ? map.get() : nullptr;
}

const osgEarth::SpatialReference* PluginEarth::getSRS()
{
    osgEarth::MapNode* map = getMapNode();
    return map && map->getMap() ? map->getMap()->getSRS() : nullptr;
}
