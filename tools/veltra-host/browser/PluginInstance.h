#pragma once

#include <npfunctions.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace veltra::host {

class PageLink;
class PageScript;
struct PluginModuleCore;

/// A plug-in entry point failed; `code` is what it answered.
class PluginError : public std::runtime_error
{
public:
    explicit PluginError(const std::string& message, NPError code = NPERR_GENERIC_ERROR)
        : std::runtime_error(message), _code(code)
    {}
    NPError code() const { return _code; }

private:
    NPError _code;
};

/// Releases an NPObject reference through the host alive now.
struct ObjectReleaser
{
    void operator()(NPObject* object) const;
};
using ObjectRef = std::unique_ptr<NPObject, ObjectReleaser>;

/// Name/value pairs of an element, in order.
using InstanceArgs = std::vector<std::pair<std::string, std::string>>;

/// One plug-in instance (an NPP), made by PluginModule::createInstance. Every call goes to the
/// plug-in on the browser loop; after destroy() they answer errors and do nothing.
class PluginInstance
{
public:
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    NPP npp() { return &_npp; }
    bool alive() const { return _alive; }
    /// True when the plug-in said it draws without a window.
    bool windowless() const;

    /// Gives the instance the X window `xid` of `width` x `height` on `display` (may be null, the
    /// plug-in then asks the host); `xid` 0 takes the window away.
    NPError setWindow(unsigned long xid, uint32_t width, uint32_t height, Display* display = nullptr);
    /// True when the plug-in consumed the event.
    bool handleEvent(const XEvent& event);
    /// The instance's scripting object; null when it has none.
    ObjectRef scriptableObject();
    /// The instance's way to its page: page values handed to the plug-in on this instance's
    /// behalf become proxies bound to it.
    const std::shared_ptr<PageLink>& pageLink() const { return _page; }

    /// Takes the window away, then NPP_Destroy; the page is cut off after that. Calling it again
    /// does nothing.
    void destroy();

private:
    friend class PluginModule;
    PluginInstance(std::shared_ptr<PluginModuleCore> core, PageScript& page);
    void create(const std::string& mime, const InstanceArgs& args);
    void destroyOnBrowserThread();

    std::shared_ptr<PluginModuleCore> _core;
    std::shared_ptr<PageLink> _page;
    NPP_t _npp{};
    NPWindow _window{};
    NPSetWindowCallbackStruct _windowInfo{};
    bool _hasWindow = false;
    bool _alive = false;
};

} // namespace veltra::host
