// The globe members of the scripting object: earth files, models on the globe, viewpoints, the camera report, the
// page's feature layers and the schedule placed on the globe.

#include "VeltraAPI.h"

#include "EngineNodeCallback.h"
#include "Veltra.h"
#include "queryFeatureInfo.h"

#include <PluginEarth/PluginEarth.h>
#include <PluginEarth/pluginFeatures.h>
#include <SolvoEarthKits/progress/ProgressControl.h>
#include <SolvoEarthUtil/loading/Decode.h>
#include <SolvoEarthUtil/scene/NodeSearch.h>
#include <Zir/osgMainApp.h>

#include <osg/Notify>

#include <iostream>

namespace {

// Scene changes of the globe, made under the scene lock of the application whose viewer draws the globe. The
// application is held weakly: it is destroyed only after its frame loop has ended, so once it is gone nobody
// draws the globe and the change is made at once. Skipping the change instead would leave the earth plug-in's
// own records (listeners, the attached camera report, layer lists) out of step with the scene it still owns.
SceneChangeRunner sceneLockRunner(const std::weak_ptr<osgMainApp>& application)
{
    return [application](const std::function<void()>& change) {
        std::shared_ptr<osgMainApp> drawing = application.lock();
        if (!drawing || !drawing->viewer.valid())
        {
            change();
            return;
        }
        SceneLock::Guard hold = drawing->viewer->sceneLock().acquire();
        change();
    };
}

} // namespace

void VeltraAPI::createEarth(const std::shared_ptr<osgMainApp>& application)
{
    // A globe made for an earlier application goes with that application's scene: its map nodes leave the
    // searches' skip list before they can die, so a later node at the same address is never skipped.
    for (const osg::ref_ptr<osg::Node>& map : _skippedMaps)
        SolvoEarthUtil::g_skips.erase(map.get());
    _skippedMaps.clear();

    _earthApp = application;
    _earth = new PluginEarth;
    if (_earth.valid())
    {
        std::cout << "读取object成功..." << std::endl;
        // Set first: initPlugin hangs the globe's groups into a root that frames may be drawing.
        _earth->setSceneChangeRunner(sceneLockRunner(application));
        _earth->initPlugin(application ? application->viewer.get() : nullptr,
                           application ? application->root.get() : nullptr, nullptr);
        _earth->addScanInfoCallBack(new MarloKits::queryFeatureInfo(_plugin));
        if (!_engineCallback.valid())
            _engineCallback = new EngineNodeCallback(_plugin);
        _engineCallback->setMap(nullptr, nullptr);
        _earth->addCallBack(_engineCallback.get());
    }
    if (!_features.valid())
        _features = new pluginFeatures;
    _features->setSceneChangeRunner(sceneLockRunner(application));
    _features->setMapNode(nullptr);
}

PluginEarth* VeltraAPI::earthOnApp()
{
    // A window attached again after a detach brings a fresh, empty viewer; the globe starts afresh in it.
    std::shared_ptr<osgMainApp> application = app();
    if (application && application != _earthApp.lock())
        createEarth(application);
    return _earth.get();
}

void VeltraAPI::loadearthfile(const FB::variant& path)
{
    std::string file = path.convert_cast<std::string>();
    PluginEarth* globe = earthOnApp();
    if (!globe)
        return;
    globe->loadearthfile(file);
    osgEarth::MapNode* map = globe->getMapNode();
    if (map)
    {
        // Name searches are made on this thread only, so the set needs no lock. The reference keeps the address
        // from being reused while it is listed.
        SolvoEarthUtil::g_skips.insert(map);
        _skippedMaps.push_back(map);
    }
    else
    {
        // The earth plug-in warns only in the log; the page author needs to hear of it too. (A failed load after
        // a good one keeps the earlier map and says nothing more than the log does.)
        reportFailure("cannot load the earth file \"" + file + "\": no map could be read from it");
    }
    if (_features.valid())
        _features->setMapNode(map);
    if (_engineCallback.valid())
        _engineCallback->setMap(map, globe->getEarthManipulator());
}

void VeltraAPI::loadearthmodel(const FB::variant& description)
{
    std::string text = description.convert_cast<std::string>();
    if (PluginEarth* globe = earthOnApp())
        globe->loadModelToEarth(text);
}

void VeltraAPI::querymodelinfo(const FB::variant& on)
{
    bool pick = on.convert_cast<bool>();
    if (PluginEarth* globe = earthOnApp())
        globe->QueryModelInfo(pick);
}

void VeltraAPI::setviewpoint(const FB::variant& viewpoint)
{
    std::string json = viewpoint.convert_cast<std::string>();
    if (PluginEarth* globe = earthOnApp())
        globe->setviewpoint(json);
}

std::string VeltraAPI::getviewpoint()
{
    PluginEarth* globe = earthOnApp();
    return globe ? globe->getviewpoint() : std::string();
}

void VeltraAPI::setpitchrange(const FB::variant& min, const FB::variant& max)
{
    // Converted first: a bad argument fails the call before anything is logged or changed.
    double minPitch = min.convert_cast<double>();
    double maxPitch = max.convert_cast<double>();
    PluginEarth* globe = earthOnApp();
    if (!globe)
        return;
    OSG_NOTICE << "min " << minPitch << " max " << maxPitch << std::endl;
    globe->setPitchRange(minPitch, maxPitch);
}

std::string VeltraAPI::getcamerapostion()
{
    PluginEarth* globe = earthOnApp();
    return globe ? globe->camerapostion() : std::string();
}

// The layer methods answer true whatever the manager answered: the page was promised so.

bool VeltraAPI::createlayer(const FB::variant& name, const FB::variant& style)
{
    std::string layer = name.convert_cast<std::string>();
    std::string json = style.convert_cast<std::string>();
    earthOnApp();
    if (_features.valid())
        _features->createlayer(layer, json);
    return true;
}

bool VeltraAPI::removelayer(const FB::variant& name)
{
    std::string layer = name.convert_cast<std::string>();
    earthOnApp();
    if (_features.valid())
        _features->removelayer(layer);
    return true;
}

bool VeltraAPI::showlayer(const FB::variant& name, const FB::variant& visible)
{
    std::string layer = name.convert_cast<std::string>();
    bool show = visible.convert_cast<bool>();
    earthOnApp();
    if (_features.valid())
        _features->showlayer(layer, show);
    return true;
}

bool VeltraAPI::addfeatures(const FB::variant& name, const FB::variant& features)
{
    std::string layer = name.convert_cast<std::string>();
    std::string geoJson = features.convert_cast<std::string>();
    earthOnApp();
    if (_features.valid())
        _features->addfeatures(layer, geoJson);
    return true;
}

bool VeltraAPI::removefeature(const FB::variant& name, const FB::variant& featureId)
{
    std::string layer = name.convert_cast<std::string>();
    std::string id = featureId.convert_cast<std::string>();
    earthOnApp();
    if (_features.valid())
        _features->removefeature(layer, id);
    return true;
}

void VeltraAPI::enablepostinTomap2d(const FB::variant& on)
{
    bool report = on.convert_cast<bool>();
    if (PluginEarth* globe = earthOnApp())
        globe->enablePostinTomap2D(report);
}

bool VeltraAPI::loadProgressControlToEarth(const FB::variant& model, const FB::variant& tasks,
                                           const FB::variant& binding, const FB::variant& x1, const FB::variant& y1,
                                           const FB::variant& z1, const FB::variant& x2, const FB::variant& y2,
                                           const FB::variant& z2)
{
    // The numbers first, then the texts; all of them before anything happens, so a bad argument changes nothing.
    // One by one, so the first bad one is the one the page hears of.
    osg::Vec3d position;
    osg::Vec3d orientation;
    position.x() = x1.convert_cast<double>();
    position.y() = y1.convert_cast<double>();
    position.z() = z1.convert_cast<double>();
    orientation.x() = x2.convert_cast<double>();
    orientation.y() = y2.convert_cast<double>();
    orientation.z() = z2.convert_cast<double>();
    std::string modelText = model.convert_cast<std::string>();
    std::string taskText = SolvoEarthUtil::decode(tasks.convert_cast<std::string>());
    std::string bindingText = SolvoEarthUtil::decode(binding.convert_cast<std::string>());

    std::shared_ptr<osgMainApp> application = app();
    PluginEarth* globe = earthOnApp();
    if (!application || !globe)
        return false;
    bool ok = loadSchedule(*application, modelText, taskText, bindingText);
    if (ProgressControl* control = application->getProgressControl())
    {
        if (!globe->getMapNode())
            reportFailure("the schedule of \"" + modelText + "\" is not placed on the globe: no earth file is loaded");
        globe->loadModelToEarth2(control, position, orientation);
        hookDateChanges(control);
    }
    return ok;
}
