#include "browser/PluginInstance.h"

#include "browser/HostFunctions.h"
#include "browser/PageObjectProxy.h"
#include "browser/PluginModuleCore.h"

#include <climits>
#include <cstdio>

namespace veltra::host {

void ObjectReleaser::operator()(NPObject* object) const
{
    if (HostFunctions* host = HostFunctions::current())
        host->releaseObject(object);
}

PluginInstance::PluginInstance(std::shared_ptr<PluginModuleCore> core, PageScript& page)
    : _core(std::move(core)), _page(std::make_shared<PageLink>(page, _core->host.loop(), &_npp))
{
    _npp.ndata = this;
}

PluginInstance::~PluginInstance()
{
    destroy();
}

void PluginInstance::create(const std::string& mime, const InstanceArgs& args)
{
    if (args.size() > INT16_MAX)
        throw PluginError("Too many element arguments", NPERR_INVALID_PARAM);
    // NPP_New takes mutable C strings; these copies live through the call.
    std::vector<char> type(mime.begin(), mime.end());
    type.push_back('\0');
    std::vector<std::string> texts;
    texts.reserve(args.size() * 2);
    std::vector<char*> names;
    std::vector<char*> values;
    for (const auto& [name, value] : args)
    {
        names.push_back(texts.emplace_back(name).data());
        values.push_back(texts.emplace_back(value).data());
    }

    HostFunctions& host = _core->host;
    NPError created = host.loop().runSync([&] {
        host.attachInstance(&_npp, _page);
        NPError result = _core->funcs.newp(type.data(), &_npp, NP_EMBED, static_cast<int16_t>(names.size()),
                                           names.data(), values.data(), nullptr);
        if (result != NPERR_NO_ERROR)
        {
            // A refused instance is never destroyed; it only leaves.
            host.detachInstance(&_npp);
            _page->detach();
        }
        return result;
    });
    if (created != NPERR_NO_ERROR)
        throw PluginError("The plug-in refused an instance of " + mime, created);
    _alive = true;
    std::lock_guard<std::mutex> guard(_core->lock);
    _core->live.insert(this);
}

bool PluginInstance::windowless() const
{
    return _alive && _core->host.isWindowless(const_cast<NPP>(&_npp));
}

NPError PluginInstance::setWindow(unsigned long xid, uint32_t width, uint32_t height, Display* display)
{
    if (!_alive || !_core->funcs.setwindow)
        return NPERR_INVALID_INSTANCE_ERROR;
    return _core->host.loop().runSync([&]() -> NPError {
        if (!xid)
        {
            if (!_hasWindow)
                return NPERR_NO_ERROR;
            _hasWindow = false;
            return _core->funcs.setwindow(&_npp, nullptr);
        }
        _windowInfo = NPSetWindowCallbackStruct{};
        _windowInfo.type = NP_SETWINDOW;
        if (display)
        {
            int screen = DefaultScreen(display);
            _windowInfo.display = display;
            _windowInfo.visual = DefaultVisual(display, screen);
            _windowInfo.colormap = DefaultColormap(display, screen);
            _windowInfo.depth = static_cast<unsigned int>(DefaultDepth(display, screen));
        }
        _window = NPWindow{};
        _window.window = reinterpret_cast<void*>(static_cast<uintptr_t>(xid));
        _window.width = width;
        _window.height = height;
        _window.clipRect.right = static_cast<uint16_t>(width > UINT16_MAX ? UINT16_MAX : width);
        _window.clipRect.bottom = static_cast<uint16_t>(height > UINT16_MAX ? UINT16_MAX : height);
        _window.ws_info = display ? &_windowInfo : nullptr;
        _window.type = NPWindowTypeWindow;
        _hasWindow = true;
        return _core->funcs.setwindow(&_npp, &_window);
    });
}

bool PluginInstance::handleEvent(const XEvent& event)
{
    if (!_alive || !_core->funcs.event)
        return false;
    XEvent copy = event; // the plug-in takes a mutable event
    return _core->host.loop().runSync([&] { return _core->funcs.event(&_npp, &copy) != 0; });
}

ObjectRef PluginInstance::scriptableObject()
{
    if (!_alive || !_core->funcs.getvalue)
        return nullptr;
    NPObject* object = nullptr;
    NPError found =
        _core->host.loop().runSync([&] { return _core->funcs.getvalue(&_npp, NPPVpluginScriptableNPObject, &object); });
    if (found != NPERR_NO_ERROR)
        return nullptr;
    return ObjectRef(object);
}

void PluginInstance::destroy()
{
    if (!_alive)
        return;
    _alive = false;
    {
        std::lock_guard<std::mutex> guard(_core->lock);
        _core->live.erase(this);
    }
    try
    {
        _core->host.loop().runSync([this] { destroyOnBrowserThread(); });
    }
    catch (const std::exception& error)
    {
        // No browser thread left to run the plug-in's side on: the host at least forgets the instance.
        std::fprintf(stderr, "veltra-host: instance not destroyed by the plug-in: %s\n", error.what());
        _core->host.detachInstance(&_npp);
        _page->detach();
    }
}

void PluginInstance::destroyOnBrowserThread()
{
    if (_hasWindow && _core->funcs.setwindow)
        _core->funcs.setwindow(&_npp, nullptr);
    _hasWindow = false;
    NPSavedData* saved = nullptr;
    _core->funcs.destroy(&_npp, &saved);
    if (saved)
    {
        // Nothing is reloaded later, so what the plug-in saved for it is only freed.
        _core->host.table()->memfree(saved->buf);
        _core->host.table()->memfree(saved);
    }
    // Only now: the plug-in may still write to the page while it is destroyed.
    _core->host.detachInstance(&_npp);
    _page->detach();
}

} // namespace veltra::host
