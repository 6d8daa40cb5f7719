#pragma once

#include "plugincore/PluginWindow.h"
#include "scripting/BrowserHost.h"
#include "variant/variant.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace FB {

class PluginCore;
using PluginCorePtr = std::shared_ptr<PluginCore>;
using VariantMap = std::map<std::string, variant>;

/// The plug-in object of one page element: what the application derives from. The host layer drives
/// every instance through the same steps, all on the browser thread:
///   1. creation (by the factory), then setHost;
///   2. setParams: the element's <param>s;
///   3. isWindowless, asked once the parameters are in;
///   4. setWindow when the browser hands over a window (AttachedEvent);
///   5. setReady: onPluginReady, then the page's "onload" handler gets the root scripting object;
///   6. clearWindow when the window is taken away (DetachedEvent);
///   7. destroy: shutdown, the scripting object invalidated, the host shut down, the object released.
/// The NPAPI host declares an instance ready on its first window, or at creation when it is windowless,
/// so a plug-in object must not rely on having a window in onPluginReady.
class PluginCore : public PluginEventSink, public std::enable_shared_from_this<PluginCore>
{
public:
    ~PluginCore() override;
    PluginCore(const PluginCore&) = delete;
    PluginCore& operator=(const PluginCore&) = delete;

    /// Records the platform the module runs in, once per process (later calls change nothing), and
    /// traces "os: <os>; browser: <browser>".
    static void setPlatform(const std::string& os, const std::string& browser);
    /// The recorded platform as (os, browser); empty strings before setPlatform.
    static std::pair<std::string, std::string> platform();

    void setHost(const BrowserHostPtr& host);
    BrowserHostPtr getHost() const { return _host; }

    /// Stores each parameter by name as a string. A parameter whose name begins with "on" is an event
    /// handler: its value (a function, or the name of a global function) is resolved in the page and
    /// stored as that page object, which the host retains; when resolving fails the plain string is kept.
    void setParams(const std::vector<std::pair<std::string, std::string>>& params);
    /// The parameter `name`, or an empty variant when the element has none of that name.
    variant getParam(const std::string& name) const;
    const VariantMap& getParams() const { return _params; }

    /// True only when the parameter "windowless" is present and converts to true; computed on the first
    /// call and kept.
    bool isWindowless();

    /// Gives the object its window (not owned; valid until clearWindow) and sends it an AttachedEvent.
    void setWindow(PluginWindow* window);
    /// Sends a DetachedEvent and forgets the window; nothing happens when there is none.
    void clearWindow();
    PluginWindow* getWindow() const { return _window; }

    /// Declares the instance ready: onPluginReady, then the "onload" page function, when the element
    /// has one, is called from the page's timer with the root scripting object. Only the first call counts.
    void setReady();
    bool isPluginReady() const { return _ready; }

    /// The scripting object the page sees as the element, created by createJSAPI on first use. The
    /// element's "on..." handlers are attached to its events when it is created.
    JSAPIPtr getRootJSAPI();

    /// Lifecycle step 7, called by the host layer before it lets the object go.
    void destroy();

    /// Events from the window; the default consumes nothing.
    bool handleEvent(const PluginEvent& event, PluginWindow* source) override;

protected:
    PluginCore() = default;

    /// Creates the root scripting object; called once, on the browser thread.
    virtual JSAPIPtr createJSAPI() = 0;
    /// Called when the instance becomes ready.
    virtual void onPluginReady() {}
    /// Called first when the instance is being destroyed, while the page can still be reached.
    virtual void shutdown() {}

    /// Forgets the root scripting object (the page's wrapper of it may live on).
    void releaseRootJSAPI() { _rootJSAPI.reset(); }

private:
    BrowserHostPtr _host;
    VariantMap _params;
    std::optional<bool> _windowless;
    PluginWindow* _window = nullptr; // owned by the host layer
    bool _ready = false;
    JSAPIPtr _rootJSAPI;
};

} // namespace FB
