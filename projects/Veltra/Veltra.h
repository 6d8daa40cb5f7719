#pragma once

#include "plugincore/PluginCore.h"

#include <osg/ref_ptr>

#include <memory>
#include <mutex>
#include <string>

class osgMainApp;
class PostIDCallback;
class RenderingThread;
class VeltraNotifyHandler;

/// The plug-in object of one page element. It owns the viewer application, starts the frame loop
/// when the browser hands it a window and stops everything when the window goes away, routes the
/// scene library's log to the page, and runs in the page the script that scene-side code leaves
/// for it (the pending script) at the next mouse-up or scroll.
///
/// Threads: everything here runs on the browser's main thread, except setPendingScript, which
/// scene callbacks call from the rendering thread; the pending script has a lock of its own.
///
/// Lifecycle: created with an application; window attach starts the viewer on that window and the
/// frame loop; detach stops the loop and destroys the application. A second attach after a detach
/// creates a new application, so the element can be shown again (the page's scene is then empty).
class Veltra : public FB::PluginCore
{
public:
    Veltra();
    ~Veltra() override;

    /// The application while one exists (from construction to detach, and again after a new attach);
    /// null otherwise. Scripting objects hold it only for the length of a call.
    std::shared_ptr<osgMainApp> getApp() const { return _app; }

    /// Replaces the text waiting to run in the page.
    void setPendingScript(const std::string& script);
    /// The text waiting to run; "" when none.
    std::string pendingScript() const;

    /// The folder of the plug-in library, ending with "/"; "" when unknown.
    const std::string& pluginFolder() const { return _pluginFolder; }

    bool handleEvent(const FB::PluginEvent& event, FB::PluginWindow* window) override;

protected:
    FB::JSAPIPtr createJSAPI() override;
    void onPluginReady() override {}
    void shutdown() override;

private:
    void onWindowAttached(FB::PluginWindow* window);
    void onWindowDetached();
    /// Runs the pending script in the page, if there is one, and empties it.
    void runPendingScript();

    mutable std::mutex _pendingLock;
    std::string _pendingScript;
    std::string _pluginFolder;
    std::shared_ptr<osgMainApp> _app;
    osg::ref_ptr<VeltraNotifyHandler> _notifyHandler;
    std::unique_ptr<RenderingThread> _renderThread;
    osg::ref_ptr<PostIDCallback> _postIdCallback;
};
