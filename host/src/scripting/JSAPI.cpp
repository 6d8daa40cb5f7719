#include "scripting/JSAPI.h"

#include <algorithm>

namespace FB {

bool JSAPI::hasEvent(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return std::find(_events.begin(), _events.end(), name) != _events.end();
}

void JSAPI::addEvent(const std::string& name)
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (std::find(_events.begin(), _events.end(), name) == _events.end())
        _events.push_back(name);
}

void JSAPI::attachEvent(const std::string& name, const JSObjectPtr& handler)
{
    // A null handler could only fail later, at delivery; there is nothing to call.
    if (!handler)
        return;
    std::lock_guard<std::mutex> lock(_mutex);
    _handlers.emplace(name, handler);
}

void JSAPI::detachEvent(const std::string& name, const JSObjectPtr& handler)
{
    if (!handler)
        return;
    std::lock_guard<std::mutex> lock(_mutex);
    auto range = _handlers.equal_range(name);
    for (auto it = range.first; it != range.second;)
    {
        if (it->second->isSameObject(*handler))
            it = _handlers.erase(it);
        else
            ++it;
    }
}

void JSAPI::raiseEvent(const std::string& name, const VariantList& args)
{
    BrowserHostPtr host;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_valid)
            return;
        host = _host.lock();
    }

    if (!host || host->isMainThread())
    {
        deliver(name, args);
        return;
    }

    // The caller (the rendering thread, say) must not wait for the page. The scheduled call holds the
    // object weakly: a page closed in the meantime simply receives nothing. An object that is not owned
    // by a shared pointer cannot be reached safely later, so its off-thread events are dropped, as are
    // events the host refuses to schedule (it is shutting down).
    std::weak_ptr<JSAPI> self = weak_from_this();
    if (self.expired())
        return;
    host->scheduleOnMainThread([self, name, args]() {
        if (JSAPIPtr object = self.lock())
            object->deliver(name, args);
    });
}

void JSAPI::setHost(const BrowserHostPtr& host)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _host = host;
}

void JSAPI::invalidate()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _valid = false;
    // Nothing will be delivered any more; let go of the page's functions now rather than at destruction.
    _handlers.clear();
}

bool JSAPI::isValid() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _valid;
}

void JSAPI::deliver(const std::string& name, const VariantList& args)
{
    // Handlers are called outside the lock: one may attach, detach or raise again.
    std::vector<JSObjectPtr> handlers;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_valid)
            return;
        auto range = _handlers.equal_range(name);
        for (auto it = range.first; it != range.second; ++it)
            handlers.push_back(it->second);
    }

    for (const JSObjectPtr& handler : handlers)
    {
        // A failing page handler must not keep the others from hearing the event, and no exception may
        // escape into the browser's scheduler or the raising thread.
        try
        {
            handler->invokeDefault(args);
        }
        catch (...)
        {}
    }
}

} // namespace FB
