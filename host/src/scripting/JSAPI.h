#pragma once

#include "scripting/BrowserHost.h"
#include "scripting/JSObject.h"
#include "variant/variant.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace FB {

/// A scriptable object of the plug-in, as a page sees it: methods, properties and events, looked
/// up by name. Host bridges (NPAPI) forward the page's calls here on the browser thread; failures
/// come back as FB::script_error exceptions, which the bridges turn into script exceptions.
///
/// The event machinery lives here: handlers attached per event name, and raiseEvent, which calls
/// them on the browser thread, or from any other thread schedules them there without waiting.
class JSAPI : public std::enable_shared_from_this<JSAPI>
{
public:
    virtual ~JSAPI() = default;

    virtual bool hasMethod(const std::string& name) const = 0;
    virtual bool hasProperty(const std::string& name) const = 0;
    virtual variant getProperty(const std::string& name) = 0;
    virtual void setProperty(const std::string& name, const variant& value) = 0;
    virtual void removeProperty(const std::string& name) = 0;
    virtual variant invoke(const std::string& name, const VariantList& args) = 0;
    /// The names a page may enumerate: methods, properties and attributes.
    virtual std::vector<std::string> getMemberNames() const = 0;

    /// True for a declared event name ("onfired", "ondateChanged", ...).
    virtual bool hasEvent(const std::string& name) const;
    /// Declares an event name.
    void addEvent(const std::string& name);
    /// Attaches a page function to the event `name` (the full name, "on..."); the same function
    /// attached twice is called twice.
    void attachEvent(const std::string& name, const JSObjectPtr& handler);
    /// Detaches every attachment of `handler` (compared with JSObject::isSameObject) from `name`.
    void detachEvent(const std::string& name, const JSObjectPtr& handler);
    /// Calls every handler of `name` with `args`: at once on the browser thread, scheduled without
    /// waiting from any other thread. Nothing happens on an invalidated object.
    void raiseEvent(const std::string& name, const VariantList& args);

    /// The browser this object lives in; without one, events are delivered on the calling thread.
    void setHost(const BrowserHostPtr& host);

    /// After invalidation every call fails with FB::object_invalidated and no event is delivered.
    virtual void invalidate();
    bool isValid() const;

protected:
    JSAPI() = default;

private:
    void deliver(const std::string& name, const VariantList& args);

    mutable std::mutex _mutex; // guards _events, _handlers, _host and _valid
    std::vector<std::string> _events;
    std::multimap<std::string, JSObjectPtr> _handlers;
    BrowserHostWeakPtr _host;
    bool _valid = true;
};

} // namespace FB
