#pragma once

#include <functional>
#include <memory>

namespace FB {

/// What a scriptable object needs from the browser it lives in: knowing whether the caller is on
/// the browser thread, and getting work onto that thread. The lifecycle layer supplies the NPAPI
/// implementation (NPN_PluginThreadAsyncCall); tests supply their own.
class BrowserHost
{
public:
    virtual ~BrowserHost() = default;

    /// True on the browser's main thread, where every call into page script must happen.
    virtual bool isMainThread() const = 0;

    /// Schedules `call` to run later on the browser thread and returns at once; false when it
    /// cannot be scheduled (the host is shutting down, or the browser refused).
    virtual bool scheduleOnMainThread(std::function<void()> call) = 0;
};

using BrowserHostPtr = std::shared_ptr<BrowserHost>;
using BrowserHostWeakPtr = std::weak_ptr<BrowserHost>;

} // namespace FB
