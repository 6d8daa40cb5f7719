#include "plugincore/PluginCore.h"

#include "logging/Log.h"
#include "plugincore/PluginEvents.h"
#include "scripting/JSAPI.h"
#include "scripting/JSObject.h"
#include "variant/ScriptErrors.h"

#include <exception>
#include <mutex>

namespace FB {
namespace {

const char* const kTraceSource = "PluginCore";

std::mutex g_platformLock;
std::optional<std::pair<std::string, std::string>> g_platform;

bool isHandlerName(const std::string& name)
{
    return name.compare(0, 2, "on") == 0;
}

} // namespace

PluginCore::~PluginCore() = default;

void PluginCore::setPlatform(const std::string& os, const std::string& browser)
{
    {
        std::lock_guard<std::mutex> lock(g_platformLock);
        if (g_platform)
            return;
        g_platform.emplace(os, browser);
    }
    Log::trace(kTraceSource, "os: " + os + "; browser: " + browser);
}

std::pair<std::string, std::string> PluginCore::platform()
{
    std::lock_guard<std::mutex> lock(g_platformLock);
    return g_platform.value_or(std::pair<std::string, std::string>());
}

void PluginCore::setHost(const BrowserHostPtr& host)
{
    _host = host;
}

void PluginCore::setParams(const std::vector<std::pair<std::string, std::string>>& params)
{
    for (const auto& [name, value] : params)
    {
        _params[name] = value;
        if (!isHandlerName(name) || !_host)
            continue;
        try
        {
            // Parenthesised so that a function literal evaluates to the function itself.
            variant resolved = _host->evaluateScript("(" + value + ")");
            if (resolved.is_of_type<JSObjectPtr>() && resolved.convert_cast<JSObjectPtr>())
            {
                JSObjectPtr handler = resolved.convert_cast<JSObjectPtr>();
                Log::trace(kTraceSource, "Found <param> event handler: " + name);
                _host->retainJSObject(handler);
                _params[name] = handler;
            }
        }
        catch (const std::exception& error)
        {
            Log::trace(kTraceSource, "Exception processing <param> " + name + ": " + error.what());
        }
    }
}

variant PluginCore::getParam(const std::string& name) const
{
    auto found = _params.find(name);
    return found == _params.end() ? variant() : found->second;
}

bool PluginCore::isWindowless()
{
    if (!_windowless)
    {
        variant value = getParam("windowless");
        bool windowless = false;
        if (!value.empty())
        {
            try
            {
                windowless = value.convert_cast<bool>();
            }
            catch (const bad_variant_cast&)
            {
                windowless = false;
            }
        }
        _windowless = windowless;
    }
    return *_windowless;
}

void PluginCore::setWindow(PluginWindow* window)
{
    if (!window || window == _window)
        return;
    clearWindow();
    Log::trace(kTraceSource, "Window Set");
    _window = window;
    _window->setEventSink(weak_from_this());
    _window->sendEvent(AttachedEvent());
}

void PluginCore::clearWindow()
{
    if (!_window)
        return;
    Log::trace(kTraceSource, "Window Cleared");
    _window->sendEvent(DetachedEvent());
    _window->setEventSink({});
    _window = nullptr;
}

void PluginCore::setReady()
{
    if (_ready)
        return;
    _ready = true;
    Log::trace(kTraceSource, "Plugin Ready");
    onPluginReady();

    variant onload = getParam("onload");
    if (!_host || !onload.is_of_type<JSObjectPtr>())
        return;
    JSObjectPtr handler = onload.convert_cast<JSObjectPtr>();
    if (!handler)
        return;
    Log::trace(kTraceSource, "InvokeDelayed(onload)");
    try
    {
        _host->delayedInvoke(0, handler, VariantList{variant(getRootJSAPI())});
    }
    catch (const std::exception& error)
    {
        Log::trace(kTraceSource, std::string("Calling onload failed: ") + error.what());
    }
}

JSAPIPtr PluginCore::getRootJSAPI()
{
    if (!_rootJSAPI)
    {
        _rootJSAPI = createJSAPI();
        if (!_rootJSAPI)
            return nullptr;
        _rootJSAPI->setHost(_host);
        for (const auto& [name, value] : _params)
        {
            if (isHandlerName(name) && name != "onload" && value.is_of_type<JSObjectPtr>())
                _rootJSAPI->attachEvent(name, value.convert_cast<JSObjectPtr>());
        }
    }
    return _rootJSAPI;
}

void PluginCore::destroy()
{
    shutdown();
    if (_rootJSAPI)
        _rootJSAPI->invalidate();
    if (_host)
        _host->shutdown();
}

bool PluginCore::handleEvent(const PluginEvent&, PluginWindow*)
{
    return false;
}

} // namespace FB
