#include "VeltraAPI.h"

#include "EngineNodeCallback.h"
#include "Veltra.h"
#include "scripting/MethodWrapper.h"
#include "variant/ScriptErrors.h"

#include <PluginEarth/PluginEarth.h>
#include <PluginEarth/pluginFeatures.h>
#include <SolvoEarthKits/progress/ProgressControl.h>
#include <SolvoEarthKits/selection/ModelSelector.h>
#include <SolvoEarthUtil/loading/Decode.h>
#include <SolvoEarthUtil/loading/ReadPluginFile.h>
#include <SolvoEarthUtil/scene/NodeSearch.h>
#include <Zir/osgMainApp.h>
#include <pluginBase/pluginBase.h>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <iostream>

namespace {

// Counts "echo" calls across every element of the process.
std::atomic<int> g_echoCount{0};

// A schedule document as a failure names it: its path or URL, or only its size when the page passed the JSON text
// itself (which can be megabytes).
std::string describeDocument(const std::string& document)
{
    auto first = std::find_if(document.begin(), document.end(), [](unsigned char c) { return !std::isspace(c); });
    if (first != document.end() && (*first == '[' || *first == '{'))
        return "given as text (" + std::to_string(document.size()) + (document.size() == 1 ? " byte)" : " bytes)");
    return "\"" + document + "\"";
}

} // namespace

VeltraAPI::VeltraAPI(const std::shared_ptr<Veltra>& plugin, const FB::BrowserHostPtr& host)
    : _plugin(plugin), _host(host)
{
    // The page's order of members.
    addMethod("echo", FB::make_method(this, &VeltraAPI::echo));
    addMethod("testEvent", FB::make_method(this, &VeltraAPI::testEvent));
    addMethod("loadplugin", FB::make_method(this, &VeltraAPI::loadplugin));
    addMethod("loadfile", FB::make_method(this, &VeltraAPI::loadfile));
    addMethod("querymodelid", FB::make_method(this, &VeltraAPI::querymodelid));
    addMethod("addserveraddress", FB::make_method(this, &VeltraAPI::addserveraddress));
    addMethod("selectmaniupltor", FB::make_method(this, &VeltraAPI::selectmaniupltor));
    addMethod("home", FB::make_method(this, &VeltraAPI::home));
    addMethod("clearscene", FB::make_method(this, &VeltraAPI::clearscene));
    addMethod("addbackground", FB::make_method(this, &VeltraAPI::addbackground));
    addMethod("addSkyBox", FB::make_method(this, &VeltraAPI::addSkyBox));
    addMethod("loadearthfile", FB::make_method(this, &VeltraAPI::loadearthfile));
    addMethod("loadearthmodel", FB::make_method(this, &VeltraAPI::loadearthmodel));
    addMethod("querymodelinfo", FB::make_method(this, &VeltraAPI::querymodelinfo));
    addMethod("setviewpoint", FB::make_method(this, &VeltraAPI::setviewpoint));
    addMethod("getviewpoint", FB::make_method(this, &VeltraAPI::getviewpoint));
    addMethod("setpitchrange", FB::make_method(this, &VeltraAPI::setpitchrange));
    addMethod("getcamerapostion", FB::make_method(this, &VeltraAPI::getcamerapostion));
    addMethod("createlayer", FB::make_method(this, &VeltraAPI::createlayer));
    addMethod("removelayer", FB::make_method(this, &VeltraAPI::removelayer));
    addMethod("showlayer", FB::make_method(this, &VeltraAPI::showlayer));
    addMethod("addfeatures", FB::make_method(this, &VeltraAPI::addfeatures));
    addMethod("removefeature", FB::make_method(this, &VeltraAPI::removefeature));
    addMethod("enablepostinTomap2d", FB::make_method(this, &VeltraAPI::enablepostinTomap2d));
    addMethod("loadProgressControlToEarth", FB::make_method(this, &VeltraAPI::loadProgressControlToEarth));
    addMethod("loadProgressControl", FB::make_method(this, &VeltraAPI::loadProgressControl));
    addMethod("loadProgressControlTasks", FB::make_method(this, &VeltraAPI::loadProgressControlTasks));
    addMethod("getProgressControlState", FB::make_method(this, &VeltraAPI::getProgressControlState));
    addMethod("startProgressControl", FB::make_method(this, &VeltraAPI::startProgressControl));
    addMethod("pauseProgressControl", FB::make_method(this, &VeltraAPI::pauseProgressControl));
    addMethod("stopProgressControl", FB::make_method(this, &VeltraAPI::stopProgressControl));
    addMethod("getProgressControlMode", FB::make_method(this, &VeltraAPI::getProgressControlMode));
    addMethod("setProgressControlMode", FB::make_method(this, &VeltraAPI::setProgressControlMode));
    addMethod("getProgressControlRange", FB::make_method(this, &VeltraAPI::getProgressControlRange));
    addMethod("setProgressControlRange", FB::make_method(this, &VeltraAPI::setProgressControlRange));
    addMethod("getProgressControlToday", FB::make_method(this, &VeltraAPI::getProgressControlToday));
    addMethod("setProgressControlToday", FB::make_method(this, &VeltraAPI::setProgressControlToday));
    addMethod("getProgressControlSpeed", FB::make_method(this, &VeltraAPI::getProgressControlSpeed));
    addMethod("setProgressControlSpeed", FB::make_method(this, &VeltraAPI::setProgressControlSpeed));
    addMethod("getProgressControlLoop", FB::make_method(this, &VeltraAPI::getProgressControlLoop));
    addMethod("setProgressControlLoop", FB::make_method(this, &VeltraAPI::setProgressControlLoop));
    addMethod("setProgressControlAllAlpha", FB::make_method(this, &VeltraAPI::setProgressControlAllAlpha));
    addMethod("setProgressControlChildrenAlpha", FB::make_method(this, &VeltraAPI::setProgressControlChildrenAlpha));
    addMethod("marknodehighlight", FB::make_method(this, &VeltraAPI::marknodehighlight));
    addMethod("switchModelSelector", FB::make_method(this, &VeltraAPI::switchModelSelector));
    addMethod("clearModelSelector", FB::make_method(this, &VeltraAPI::clearModelSelector));
    addMethod("getModelSelects", FB::make_method(this, &VeltraAPI::getModelSelects));
    addMethod("setModelVisible", FB::make_method(this, &VeltraAPI::setModelVisible));

    addProperty(
        "testString", [this] { return FB::variant(_testString); },
        [this](const FB::variant& value) { _testString = value.convert_cast<std::string>(); });
    addProperty("version", [] { return FB::variant("1.0.0.0"); });

    addEvent("onfired");
    addEvent("onecho");
    addEvent("ondateChanged");

    // The application is absent when the page first touches the element after a detach; the globe then
    // starts once a window brings one (see earthOnApp).
    createEarth(plugin ? plugin->getApp() : nullptr);
}

VeltraAPI::~VeltraAPI()
{
    // The control may outlive this object (the application owns it): its reports must not reach us then.
    std::shared_ptr<osgMainApp> application = app();
    if (application && _hookedControl && application->getProgressControl() == _hookedControl)
    {
        std::lock_guard<std::recursive_mutex> lock(_hookedControl->mutex);
        _hookedControl->onDateChanged = nullptr;
    }
    // The map nodes may outlive this object in the application's scene, or die with it: either way they leave
    // the skip list while their addresses are still theirs.
    for (const osg::ref_ptr<osg::Node>& map : _skippedMaps)
        SolvoEarthUtil::g_skips.erase(map.get());
}

std::shared_ptr<Veltra> VeltraAPI::plugin() const
{
    std::shared_ptr<Veltra> plugin = _plugin.lock();
    if (!plugin)
        throw FB::script_error("The plugin is invalid");
    return plugin;
}

std::shared_ptr<osgMainApp> VeltraAPI::app() const
{
    std::shared_ptr<Veltra> plugin = _plugin.lock();
    return plugin ? plugin->getApp() : nullptr;
}

void VeltraAPI::reportFailure(const std::string& reason) const
{
    std::string line = "veltra: " + reason;
    // One line, whatever a path or a server's answer carried.
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    std::cerr << line + "\n" << std::flush;
    if (_host)
        _host->warnToPage(line);
}

FB::variant VeltraAPI::echo(const FB::variant& value)
{
    raiseEvent("onecho", {value, g_echoCount++});
    return value;
}

void VeltraAPI::testEvent(const FB::variant& value)
{
    raiseEvent("onfired", {value, true, 1});
}

void VeltraAPI::loadplugin(const FB::variant& path)
{
    std::string file = path.convert_cast<std::string>();
    OSG_NOTICE << "load plugin " << file << std::endl;
    osg::ref_ptr<osg::Object> object =
        osgDB::readPluginFile(file, osgDB::Registry::instance()->getOptions());
    _loadedPlugin = dynamic_cast<pluginBase*>(object.get());
    std::shared_ptr<osgMainApp> application = app();
    if (_loadedPlugin.valid() && application)
    {
        PluginEarth* globe = earthOnApp();
        _loadedPlugin->initPlugin(application->viewer.get(), application->root.get(),
                                  globe ? globe->getMapNode() : nullptr);
    }
}

FB::variant VeltraAPI::loadfile(const FB::variant& path)
{
    std::string file = path.convert_cast<std::string>();
    if (std::shared_ptr<osgMainApp> application = app())
    {
        std::string why = application->loadfile(file);
        if (!why.empty())
            reportFailure(why);
    }
    return path;
}

FB::variant VeltraAPI::querymodelid(const FB::variant& on)
{
    bool query = on.convert_cast<bool>();
    if (std::shared_ptr<osgMainApp> application = app())
        application->QueryModelID(query);
    return on;
}

void VeltraAPI::addserveraddress(const FB::variant& path)
{
    std::string address = path.convert_cast<std::string>();
    std::shared_ptr<osgMainApp> application = app();
    if (!application)
        return;
    application->addServerAddress(address);
    _host->logToPage("添加服务器地址: " + address);
}

void VeltraAPI::selectmaniupltor(const FB::variant& name)
{
    std::string manipulator = name.convert_cast<std::string>();
    if (std::shared_ptr<osgMainApp> application = app())
        application->selectManiupltor(manipulator);
}

void VeltraAPI::home()
{
    if (std::shared_ptr<osgMainApp> application = app())
        application->home();
}

void VeltraAPI::clearscene()
{
    if (std::shared_ptr<osgMainApp> application = app())
        application->clearScene();
}

void VeltraAPI::addbackground(const FB::variant& path)
{
    std::string image = path.convert_cast<std::string>();
    if (std::shared_ptr<osgMainApp> application = app())
        application->addbackground(image);
}

void VeltraAPI::addSkyBox(const FB::variant& path)
{
    std::string images = path.convert_cast<std::string>();
    if (std::shared_ptr<osgMainApp> application = app())
        application->addSkyBox(images);
}

void VeltraAPI::marknodehighlight(const FB::variant& names)
{
    std::string list = names.convert_cast<std::string>();
    if (std::shared_ptr<osgMainApp> application = app())
        application->MarkNodeHighLight(list);
}

bool VeltraAPI::switchModelSelector(const FB::variant& on)
{
    bool select = on.convert_cast<bool>();
    std::shared_ptr<osgMainApp> application = app();
    if (!application)
        return false;
    application->switchModelSelector(select);
    return true;
}

bool VeltraAPI::clearModelSelector()
{
    std::shared_ptr<osgMainApp> application = app();
    ModelSelector* selector = application ? application->getModelSelector() : nullptr;
    if (!selector)
        return false;
    SceneLock::Guard lock = application->viewer->sceneLock().acquire();
    selector->clearHighLight();
    return true;
}

std::string VeltraAPI::getModelSelects()
{
    std::shared_ptr<osgMainApp> application = app();
    ModelSelector* selector = application ? application->getModelSelector() : nullptr;
    if (!selector)
        return "";
    SceneLock::Guard lock = application->viewer->sceneLock().acquire();
    std::string joined;
    for (const std::string& name : selector->getSelects())
        joined += (joined.empty() ? "" : ",") + name;
    return joined;
}

bool VeltraAPI::setModelVisible(const FB::variant& name, const FB::variant& visible, const FB::variant& pattern)
{
    std::string modelName = name.convert_cast<std::string>();
    bool show = visible.convert_cast<bool>();
    std::string partPattern = pattern.convert_cast<std::string>();
    std::shared_ptr<osgMainApp> application = app();
    if (!application)
        return false;

    SceneLock::Guard lock = application->viewer->sceneLock().acquire();
    osg::Node* model =
        SolvoEarthUtil::findNodeByName(application->root.get(), SolvoEarthUtil::decode(modelName), "MatrixTransform");
    if (!model)
        return false;
    plugin();
    _host->logToPage("model name: " + model->getName());
    _host->logToPage(std::string("visible: ") + (show ? "true" : "false"));
    std::vector<osg::Node*> parts =
        SolvoEarthUtil::findNodesByName(model->asGroup(), SolvoEarthUtil::decode(partPattern), "Geode");
    _host->logToPage("nodes: " + std::to_string(parts.size()));
    for (osg::Node* part : parts)
        part->setNodeMask(show ? 0xFFFFFFFFu : 0u);
    return true;
}

template <class Result, class Work>
Result VeltraAPI::withControl(Result absent, Work&& work)
{
    std::shared_ptr<osgMainApp> application = app();
    if (!application)
        return absent;
    SceneLock::Guard lock = application->viewer->sceneLock().acquire();
    ProgressControl* control = application->getProgressControl();
    return control ? work(*control) : absent;
}

void VeltraAPI::hookDateChanges(ProgressControl* control)
{
    std::weak_ptr<FB::JSAPI> self = weak_from_this();
    std::lock_guard<std::recursive_mutex> lock(control->mutex);
    // Called by playback on the rendering thread: the event goes to the page without waiting.
    control->onDateChanged = [self](const std::string today, const std::string planCurrent,
                                    const std::string actualCurrent) {
        if (FB::JSAPIPtr api = self.lock())
            api->raiseEvent("ondateChanged", {today, planCurrent, actualCurrent});
    };
    _hookedControl = control;
}

bool VeltraAPI::loadSchedule(osgMainApp& application, const std::string& model, const std::string& tasks,
                             const std::string& binding)
{
    bool ok = application.loadProgressControl(model, tasks, binding);
    if (!ok)
        reportFailure("the schedule could not be loaded: model \"" + model + "\", tasks " + describeDocument(tasks) +
                      ", binding " + describeDocument(binding));
    return ok;
}

bool VeltraAPI::loadProgressControl(const FB::variant& model, const FB::variant& tasks, const FB::variant& binding)
{
    std::string modelText = model.convert_cast<std::string>();
    std::string taskText = SolvoEarthUtil::decode(tasks.convert_cast<std::string>());
    std::string bindingText = SolvoEarthUtil::decode(binding.convert_cast<std::string>());
    std::shared_ptr<osgMainApp> application = app();
    if (!application)
        return false;
    bool ok = loadSchedule(*application, modelText, taskText, bindingText);
    // Also after a failed load: the earlier control, if it is still there, keeps reporting to us.
    if (ProgressControl* control = application->getProgressControl())
        hookDateChanges(control);
    return ok;
}

bool VeltraAPI::loadProgressControlTasks(const FB::variant& tasks, const FB::variant& flags)
{
    std::string taskText = SolvoEarthUtil::decode(tasks.convert_cast<std::string>());
    int which = flags.convert_cast<int>();
    std::shared_ptr<osgMainApp> application = app();
    if (!application)
        return false;
    if (!application->getProgressControl())
    {
        reportFailure("no schedule is loaded to take the task list " + describeDocument(taskText));
        return false;
    }
    if (application->loadProgressControlTasks(taskText, which))
        return true;
    reportFailure("the task list " + describeDocument(taskText) + " could not be loaded");
    return false;
}

int VeltraAPI::getProgressControlState()
{
    return withControl(0, [](ProgressControl& control) { return control.getState(); });
}

bool VeltraAPI::startProgressControl()
{
    return withControl(false, [](ProgressControl& control) {
        control.start();
        return true;
    });
}

bool VeltraAPI::pauseProgressControl(const FB::variant& paused)
{
    bool hold = paused.convert_cast<bool>();
    return withControl(false, [hold](ProgressControl& control) {
        control.pause(hold);
        return true;
    });
}

bool VeltraAPI::stopProgressControl()
{
    return withControl(false, [](ProgressControl& control) {
        control.stop();
        return true;
    });
}

int VeltraAPI::getProgressControlMode()
{
    return withControl(0, [](ProgressControl& control) { return control.getMode(); });
}

bool VeltraAPI::setProgressControlMode(const FB::variant& mode)
{
    int value = mode.convert_cast<int>();
    return withControl(false, [value](ProgressControl& control) {
        control.setMode(value);
        return true;
    });
}

std::string VeltraAPI::getProgressControlRange()
{
    return withControl(std::string(","), [](ProgressControl& control) {
        std::string start;
        std::string end;
        std::lock_guard<std::recursive_mutex> lock(control.mutex); // getRange does not lock by itself
        control.getRange(start, end, 3);
        return start + "," + end;
    });
}

bool VeltraAPI::setProgressControlRange(const FB::variant& start, const FB::variant& end)
{
    std::string from = start.convert_cast<std::string>();
    std::string to = end.convert_cast<std::string>();
    return withControl(false, [&](ProgressControl& control) {
        control.setRange(from, to);
        return true;
    });
}

std::string VeltraAPI::getProgressControlToday()
{
    return withControl(std::string(), [](ProgressControl& control) { return control.getToday(); });
}

bool VeltraAPI::setProgressControlToday(const FB::variant& date)
{
    std::string today = date.convert_cast<std::string>();
    return withControl(false, [&](ProgressControl& control) {
        control.setToday(today);
        return true;
    });
}

double VeltraAPI::getProgressControlSpeed()
{
    return withControl(0.0, [](ProgressControl& control) { return control.getSpeed(); });
}

bool VeltraAPI::setProgressControlSpeed(const FB::variant& daysPerSecond)
{
    double speed = daysPerSecond.convert_cast<double>();
    return withControl(false, [speed](ProgressControl& control) {
        control.setSpeed(speed);
        return true;
    });
}

bool VeltraAPI::getProgressControlLoop()
{
    return withControl(false, [](ProgressControl& control) { return control.getLoop(); });
}

bool VeltraAPI::setProgressControlLoop(const FB::variant& loop)
{
    bool again = loop.convert_cast<bool>();
    return withControl(false, [again](ProgressControl& control) {
        control.setLoop(again);
        return true;
    });
}

bool VeltraAPI::setProgressControlAllAlpha(const FB::variant& alpha)
{
    float value = alpha.convert_cast<float>();
    return withControl(false, [value](ProgressControl& control) {
        control.setAllAlpha(value);
        return true;
    });
}

bool VeltraAPI::setProgressControlChildrenAlpha(const FB::variant& names, const FB::variant& alpha)
{
    std::string list = names.convert_cast<std::string>();
    float value = alpha.convert_cast<float>();
    return withControl(false, [&](ProgressControl& control) {
        std::vector<std::string> pieces;
        osgDB::split(list, pieces, ',');
        for (const std::string& wbs : pieces)
        {
            if (!wbs.empty())
                control.setChildAlpha(wbs, value);
        }
        return true;
    });
}
