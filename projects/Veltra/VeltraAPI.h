#pragma once

#include "scripting/BrowserHost.h"
#include "scripting/JSAPIAuto.h"

#include <osg/ref_ptr>

#include <memory>
#include <string>

class osgMainApp;
class pluginBase;
class ProgressControl;
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

    // The globe: without the earth plug-in these do nothing and answer nothing, "" or true.
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

private:
    /// Runs `work` on the application's progress control with the scene locked (a frame may be running)
    /// and returns its answer; `absent` when there is no application or no control.
    template <class Result, class Work>
    Result withControl(Result absent, Work&& work);
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
};
