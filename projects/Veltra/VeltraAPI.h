#pragma once

#include "scripting/BrowserHost.h"
#include "scripting/JSAPIAuto.h"

#include <osg/Node>
#include <osg/ref_ptr>

#include <memory>
#include <string>
#include <vector>

class EngineNodeCallback;
class osgMainApp;
class pluginBase;
class PluginEarth;
class pluginFeatures;
class ProgressControl;
class Veltra;

/// The object page script sees as the plug-in element. Methods take their arguments as variants and
/// convert them themselves; a method that needs the viewer application does nothing (and answers
/// nothing, false or "") while there is none, which is the case after the window was detached.
/// Every member runs on the browser's main thread.
///
/// The globe: the object owns an earth plug-in (`earth`), a feature-layer manager (`features`) and the camera
/// report (`engineCallback`). Both make their scene changes under the application's scene lock, so frames keep
/// coming while they read files and compile features; with no application (window detached) no frame runs and
/// the changes are made at once.
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

    // The globe (VeltraAPIGlobe.cpp). The layer methods answer true whatever the layer manager says.
    void loadearthfile(const FB::variant& path);
    void loadearthmodel(const FB::variant& description);
    void querymodelinfo(const FB::variant& on);
    void setviewpoint(const FB::variant& viewpoint);
    std::string getviewpoint();
    void setpitchrange(const FB::variant& min, const FB::variant& max);
    std::string getcamerapostion();
    bool createlayer(const FB::variant& name, const FB::variant& style);
    bool removelayer(const FB::variant& name);
    bool showlayer(const FB::variant& name, const FB::variant& visible);
    bool addfeatures(const FB::variant& name, const FB::variant& features);
    bool removefeature(const FB::variant& name, const FB::variant& featureId);
    void enablepostinTomap2d(const FB::variant& on);

    // The progress simulation of the application's model.
    bool loadProgressControlToEarth(const FB::variant& model, const FB::variant& tasks, const FB::variant& binding,
                                    const FB::variant& x1, const FB::variant& y1, const FB::variant& z1,
                                    const FB::variant& x2, const FB::variant& y2, const FB::variant& z2);
    bool loadProgressControl(const FB::variant& model, const FB::variant& tasks, const FB::variant& binding);
    bool loadProgressControlTasks(const FB::variant& tasks, const FB::variant& flags);
    int getProgressControlState();
    bool startProgressControl();
    bool pauseProgressControl(const FB::variant& paused);
    bool stopProgressControl();
    int getProgressControlMode();
    bool setProgressControlMode(const FB::variant& mode);
    std::string getProgressControlRange();
    bool setProgressControlRange(const FB::variant& start, const FB::variant& end);
    std::string getProgressControlToday();
    bool setProgressControlToday(const FB::variant& date);
    double getProgressControlSpeed();
    bool setProgressControlSpeed(const FB::variant& daysPerSecond);
    bool getProgressControlLoop();
    bool setProgressControlLoop(const FB::variant& loop);
    bool setProgressControlAllAlpha(const FB::variant& alpha);
    bool setProgressControlChildrenAlpha(const FB::variant& names, const FB::variant& alpha);

    /// The earth plug-in, created with this object; null only if it could not be made.
    PluginEarth* earth() const { return _earth.get(); }
    /// The feature-layer manager, created with this object.
    pluginFeatures* features() const { return _features.get(); }
    /// The camera report hung on the map node by "enablepostinTomap2d".
    EngineNodeCallback* engineCallback() const { return _engineCallback.get(); }

private:
    /// Creates the earth plug-in on `application`'s viewer and root, with the pick and camera listeners and
    /// the scene-change runner, and the feature-layer manager.
    void createEarth(const std::shared_ptr<osgMainApp>& application);
    /// The earth plug-in, hung into the current application's scene first when the application changed (a
    /// window attached again after a detach); null without the plug-in.
    PluginEarth* earthOnApp();
    /// Runs `work` on the application's progress control with the scene locked (a frame may be running)
    /// and returns its answer; `absent` when there is no application or no control.
    template <class Result, class Work>
    Result withControl(Result absent, Work&& work);
    /// Loads the schedule through the application and tells the user when it failed; the application's answer.
    bool loadSchedule(osgMainApp& application, const std::string& model, const std::string& tasks,
                      const std::string& binding);
    /// Points the control's date reports at this object's "ondateChanged" event, replacing any earlier hook.
    void hookDateChanges(ProgressControl* control);
    /// The plug-in object; FB::script_error "The plugin is invalid" once it is gone.
    std::shared_ptr<Veltra> plugin() const;
    /// The plug-in object's application for the length of a call; null when there is none.
    std::shared_ptr<osgMainApp> app() const;
    /// Tells the user why a file could not be loaded: one line "veltra: <reason>" on standard error and the
    /// same line as a warning in the page console.
    void reportFailure(const std::string& reason) const;

    std::weak_ptr<Veltra> _plugin;
    FB::BrowserHostPtr _host;
    std::string _testString;
    osg::ref_ptr<pluginBase> _loadedPlugin;
    ProgressControl* _hookedControl = nullptr; // the control our date hook is on; owned by the application
    osg::ref_ptr<PluginEarth> _earth;
    osg::ref_ptr<pluginFeatures> _features;
    osg::ref_ptr<EngineNodeCallback> _engineCallback;
    std::weak_ptr<osgMainApp> _earthApp; // the application whose scene the globe hangs in
    // The map nodes this object listed in SolvoEarthUtil::g_skips, kept alive while listed.
    std::vector<osg::ref_ptr<osg::Node>> _skippedMaps;
};
