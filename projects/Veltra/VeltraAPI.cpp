#include "VeltraAPI.h"

#include "Veltra.h"
#include "scripting/MethodWrapper.h"
#include "variant/ScriptErrors.h"

#include <SolvoEarthKits/selection/ModelSelector.h>
#include <SolvoEarthUtil/loading/Decode.h>
#include <SolvoEarthUtil/loading/ReadPluginFile.h>
#include <SolvoEarthUtil/scene/NodeSearch.h>
#include <Zir/osgMainApp.h>
#include <pluginBase/pluginBase.h>

#include <osg/Notify>
#include <osgDB/Registry>

#include <atomic>

namespace {

// Counts "echo" calls across every element of the process.
std::atomic<int> g_echoCount{0};

} // namespace

VeltraAPI::VeltraAPI(const std::shared_ptr<Veltra>& plugin, const FB::BrowserHostPtr& host)
    : _plugin(plugin), _host(host)
{
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
}

VeltraAPI::~VeltraAPI() = default;

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
        _loadedPlugin->initPlugin(application->viewer.get(), application->root.get(), nullptr);
}

FB::variant VeltraAPI::loadfile(const FB::variant& path)
{
    std::string file = path.convert_cast<std::string>();
    if (std::shared_ptr<osgMainApp> application = app())
        application->loadfile(file);
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
