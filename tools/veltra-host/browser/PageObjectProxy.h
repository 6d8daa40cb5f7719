#pragma once

#include "browser/BrowserLoop.h"
#include "browser/PageScript.h"

#include <npruntime.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace veltra::host {

class HostFunctions;

/// One instance's way to its page, shared by every proxy of that page. The instance cuts it when
/// it is destroyed; proxies the plug-in still holds then fail their calls and release nothing.
class PageLink
{
public:
    PageLink(PageScript& script, BrowserLoop& loop, NPP npp) : _script(&script), _loop(loop), _npp(npp) {}

    /// The page, on the browser thread while the link holds; null otherwise.
    PageScript* script() const { return _loop.isBrowserThread() ? _script.load() : nullptr; }
    BrowserLoop& loop() const { return _loop; }
    NPP npp() const { return _npp; }
    bool attached() const { return _script.load() != nullptr; }
    void detach() { _script = nullptr; }

    /// The live proxy standing for `handle`, if any: a page object keeps one identity in the
    /// plug-in, as in a browser, so a handler removed is the handler that was added.
    NPObject* proxyFor(PageHandle handle) const;
    void rememberProxy(PageHandle handle, NPObject* proxy);
    void forgetProxy(PageHandle handle, const NPObject* proxy);

private:
    std::atomic<PageScript*> _script;
    mutable std::mutex _proxiesLock; // guards _proxies; proxies may be freed off the browser thread
    std::map<PageHandle, NPObject*> _proxies;
    BrowserLoop& _loop;
    NPP _npp;
};

/// An NPObject standing for the page object `handle`: every NPClass callback goes to the page, and
/// freeing it gives the handle back. Takes over the handle's reference, and gives it back at once
/// when no object can be made. Null when that fails.
NPObject* makePageObjectProxy(HostFunctions& host, NPP npp, const std::shared_ptr<PageLink>& page, PageHandle handle);

/// The page handle behind a proxy; nothing for any other object.
std::optional<PageHandle> pageHandleOf(const NPObject* object);

} // namespace veltra::host
