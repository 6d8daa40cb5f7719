#pragma once

#include "npapi/NpapiBrowser.h"
#include "plugincore/PluginCore.h"

#include <cstdint>
#include <functional>
#include <memory>

struct _NPWindow;
typedef struct _NPWindow NPWindow;

namespace FB {
class PluginWindowX11;
}

namespace FB::Npapi {

/// One instance of the plug-in in an NPAPI page: the glue between the browser's NPP_ calls and the
/// plug-in object's lifecycle. Lives from NPP_New to NPP_Destroy, on the browser thread.
class NpapiPlugin
{
public:
    NpapiPlugin(const NpapiBrowserPtr& browser, const PluginCorePtr& plugin);
    ~NpapiPlugin();
    NpapiPlugin(const NpapiPlugin&) = delete;
    NpapiPlugin& operator=(const NpapiPlugin&) = delete;

    /// NPP_New: stores the element's attributes and <param>s and settles the windowless choice. A
    /// windowless instance is ready at once; a windowed one becomes ready with its first window.
    void init(int16_t argc, char* argn[], char* argv[]);

    /// NPP_SetWindow: a new X window attaches (the previous one, if any, detaches first); the same
    /// window again only updates its size; a null window detaches. Windowless instances ignore windows.
    void setWindow(const NPWindow* window);

    /// NPP_HandleEvent: an XEvent for the window; true when the plug-in object consumed it.
    bool handleEvent(void* event);

    /// The scripting object for NPPVpluginScriptableNPObject, with one reference for the browser.
    NPObject* scriptableObject();

    /// NPP_Destroy: the window detaches, then the plug-in object is destroyed (shutdown, scripting
    /// object invalidated, host shut down) and released.
    void destroy();

private:
    void clearWindow();
    /// How the window tells the browser of a new picture (PluginWindow::invalidateWindow).
    std::function<void()> invalidator();

    NpapiBrowserPtr _browser;
    PluginCorePtr _plugin;
    std::unique_ptr<PluginWindowX11> _window;
    // Handed-over browser-thread calls reach this object through it only while it lives.
    const std::shared_ptr<NpapiPlugin* const> _self = std::make_shared<NpapiPlugin* const>(this);
};

} // namespace FB::Npapi
