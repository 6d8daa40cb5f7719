#pragma once

#include "scripting/BrowserHost.h"
#include "scripting/JSAPIAuto.h"

#include <osg/ref_ptr>

#include <memory>
#include <string>

class osgMainApp;
class pluginBase;
class Veltra;

/// The object page script sees as the plug-in element. Methods take their arguments as variants and
/// convert them themselves; a method that needs the viewer application does nothing (and answers
/// nothing, false or "") while there is none, which is the case after the window was detached.
/// Every member runs on the browser's main thread.
class VeltraAPI : public FB::JSAPIAuto
{
public:
    VeltraAPI(const std::shared_ptr<Veltra>& plugin, const FB::BrowserHostPtr& host);
    ~VeltraAPI() override;

    FB::variant echo(const FB::variant& value);
    void testEvent(const FB::variant& value);
    void loadplugin(const FB::variant& path);
    FB::variant loadfile(const FB::variant& path);
    FB::variant querymodelid(const FB::variant& on);
    void addserveraddress(const FB::variant& path);
    void selectmaniupltor(const FB::variant& name);
    void home();
    void clearscene();
    void addbackground(const FB::variant& path);
    void addSkyBox(const FB::variant& path);
    void marknodehighlight(const FB::variant& names);
    bool switchModelSelector(const FB::variant& on);
    bool clearModelSelector();
    std::string getModelSelects();
    bool setModelVisible(const FB::variant& name, const FB::variant& visible, const FB::variant& pattern);

private:
    /// The plug-in object; FB::script_error "The plugin is invalid" once it is gone.
    std::shared_ptr<Veltra> plugin() const;
    /// The plug-in object's application for the length of a call; null when there is none.
    std::shared_ptr<osgMainApp> app() const;

    std::weak_ptr<Veltra> _plugin;
    FB::BrowserHostPtr _host;
    std::string _testString;
    osg::ref_ptr<pluginBase> _loadedPlugin;
};
