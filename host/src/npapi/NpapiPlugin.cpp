#include "npapi/NpapiPlugin.h"

#include "npapi/NPJavascriptObject.h"
#include "npapi/NpapiHeaders.h"
#include "x11/PluginWindowX11.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace FB::Npapi {

NpapiPlugin::NpapiPlugin(const NpapiBrowserPtr& browser, const PluginCorePtr& plugin)
    : _browser(browser), _plugin(plugin)
{
    _plugin->setHost(_browser);
}

NpapiPlugin::~NpapiPlugin()
{
    destroy();
}

void NpapiPlugin::init(int16_t argc, char* argn[], char* argv[])
{
    std::vector<std::pair<std::string, std::string>> params;
    for (int16_t i = 0; argn && i < argc; ++i)
    {
        // Browsers put the element's attributes first and mark the start of the <param>s with a "PARAM"
        // entry that has no value; that marker is not a parameter.
        if (!argn[i] || (!(argv && argv[i]) && std::string(argn[i]) == "PARAM"))
            continue;
        params.emplace_back(argn[i], argv && argv[i] ? argv[i] : "");
    }
    _plugin->setParams(params);

    if (_plugin->isWindowless())
    {
        if (_browser->funcs()->setvalue)
            _browser->funcs()->setvalue(_browser->npp(), NPPVpluginWindowBool, nullptr);
        _plugin->setReady();
    }
}

void NpapiPlugin::setWindow(const NPWindow* window)
{
    if (!_plugin || _plugin->isWindowless())
        return;
    if (!window || !window->window)
    {
        clearWindow();
        return;
    }

    auto handle = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window->window));
    if (_window && _window->getNativeHandle() == handle)
    {
        _window->setSize(window->width, window->height);
        return;
    }
    clearWindow();

    Display* display = nullptr;
    if (auto* info = static_cast<const NPSetWindowCallbackStruct*>(window->ws_info))
        display = info->display;
    if (!display && _browser->funcs()->getvalue)
        _browser->funcs()->getvalue(_browser->npp(), NPNVxDisplay, &display);

    _window = std::make_unique<PluginWindowX11>(handle, display, window->width, window->height);
    _window->setInvalidator(invalidator());
    _plugin->setWindow(_window.get());
    _plugin->setReady();
}

std::function<void()> NpapiPlugin::invalidator()
{
    // invalidaterect belongs to the browser thread, and a plug-in that draws on a thread of its own
    // finishes pictures there: the call is handed over, one at a time, since a browser that is busy
    // needs to hear of the latest picture only. The browser's shutdown drops the handed-over call.
    std::weak_ptr<NpapiBrowser> weakBrowser = _browser;
    auto pending = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<NpapiPlugin* const> weakSelf = _self;
    return [weakBrowser, weakSelf, pending] {
        NpapiBrowserPtr browser = weakBrowser.lock();
        if (!browser || !browser->funcs()->invalidaterect || pending->exchange(true))
            return;
        const bool scheduled = browser->scheduleOnMainThread([weakSelf, pending] {
            pending->store(false);
            std::shared_ptr<NpapiPlugin* const> self = weakSelf.lock();
            NpapiPlugin* plugin = self ? *self : nullptr;
            if (!plugin || !plugin->_window || !plugin->_browser || !plugin->_browser->funcs()->invalidaterect)
                return;
            const PluginWindowX11& window = *plugin->_window;
            NPRect whole{0, 0, static_cast<uint16_t>(std::min<uint32_t>(window.getWindowHeight(), UINT16_MAX)),
                         static_cast<uint16_t>(std::min<uint32_t>(window.getWindowWidth(), UINT16_MAX))};
            plugin->_browser->funcs()->invalidaterect(plugin->_browser->npp(), &whole);
        });
        if (!scheduled)
            pending->store(false);
    };
}

bool NpapiPlugin::handleEvent(void* event)
{
    return _window && event && _window->handleXEvent(*static_cast<const XEvent*>(event));
}

NPObject* NpapiPlugin::scriptableObject()
{
    return _plugin ? _browser->getJSAPIWrapper(_plugin->getRootJSAPI()) : nullptr;
}

void NpapiPlugin::clearWindow()
{
    if (!_window)
        return;
    _plugin->clearWindow();
    _window.reset();
}

void NpapiPlugin::destroy()
{
    if (!_plugin)
        return;
    clearWindow();
    _plugin->destroy();
    // Released while the browser still knows the instance: the object's destructor may still write to the page,
    // and its threads may leave page references for the browser thread to give back.
    _plugin.reset();
    _browser->releaseDeferredObjects();
    _browser.reset();
}

} // namespace FB::Npapi
