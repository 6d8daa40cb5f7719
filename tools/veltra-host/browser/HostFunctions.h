#pragma once

#include "browser/BrowserLoop.h"

#include <npfunctions.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace veltra::host {

class PageLink;

/// The browser's services handed to a plug-in (its NPNetscapeFuncs table) and the state behind
/// them. NPN_ functions carry no context of their own, so one HostFunctions may be alive at a time;
/// the table's functions reach it while it lives and answer errors (or do nothing) otherwise.
class HostFunctions
{
public:
    /// `display` is answered for NPNVxDisplay (none when null). Throws std::logic_error while
    /// another HostFunctions is alive.
    explicit HostFunctions(BrowserLoop& loop, Display* display = nullptr);
    ~HostFunctions();
    HostFunctions(const HostFunctions&) = delete;
    HostFunctions& operator=(const HostFunctions&) = delete;

    /// The one alive now, or null.
    static HostFunctions* current();

    /// The table as handed to NP_Initialize; size and version set, every entry filled.
    NPNetscapeFuncs* table() { return &_table; }
    BrowserLoop& loop() { return _loop; }
    Display* display() const { return _display; }
    static const char* userAgent();

    /// The NPObject services, also reachable through the table.
    NPObject* createObject(NPP npp, NPClass* npClass);
    /// Both ignore null and objects that are not alive (never made here, or already freed).
    NPObject* retainObject(NPObject* object);
    void releaseObject(NPObject* object);
    /// NPObjects made through createobject and not yet freed.
    std::size_t liveObjects() const;
    bool isLiveObject(const NPObject* object) const;
    /// Of those, the proxies standing for page objects.
    std::size_t liveProxies() const;

    /// Blocks the table's memalloc handed out in this process that memfree has not taken back:
    /// strings cross both ways between host and plug-in, so a count that keeps growing shows a leak
    /// on one side.
    static std::size_t liveAllocations();

    /// The message of the last setexception on the calling thread since clearException(): a bridge
    /// clears it before a call into the plug-in and takes it after, to report what the call threw.
    static void clearException();
    static std::optional<std::string> takeException();

    /// Instances make themselves known before NPP_New and leave after NPP_Destroy; the calls they
    /// queue with pluginthreadasynccall run only while they are known.
    void attachInstance(NPP npp, std::shared_ptr<PageLink> page);
    void detachInstance(NPP npp);
    bool isLiveInstance(NPP npp) const;
    /// True once the plug-in said, through setvalue, that the instance draws without a window.
    bool isWindowless(NPP npp) const;

    /// How many times the plug-in said that the instance's window holds a new, completely drawn
    /// picture (invalidaterect, invalidateregion, forceredraw); 0 for a plug-in that never says
    /// so, whose pictures the host must then judge from the window's damage alone.
    std::uint64_t picturesAnnounced(NPP npp) const;
    /// Called on the browser thread each time an instance announces a picture. Set it before
    /// instances run.
    void setPictureListener(std::function<void()> listener) { _pictureListener = std::move(listener); }

private:
    friend struct HostCallbacks;

    struct InstanceRecord
    {
        std::shared_ptr<PageLink> page;
        NPObject* window = nullptr; // our reference to the page's window proxy, made on first request
        bool windowless = false;
        std::uint64_t serial = 0;
        std::uint64_t picturesAnnounced = 0;
    };

    /// The instance's page and serial, when it is alive.
    std::shared_ptr<PageLink> pageOf(NPP npp) const;
    std::optional<std::uint64_t> serialOf(NPP npp) const;
    /// A new reference to the instance's window proxy; null when the instance or its page is gone.
    NPObject* windowObject(NPP npp);
    void setWindowless(NPP npp, bool windowless);
    void announcePicture(NPP npp);
    static void recordException(std::string message);
    static void countAllocation(bool allocated);

    BrowserLoop& _loop;
    Display* _display;
    NPNetscapeFuncs _table{};

    mutable std::mutex _lock; // guards the fields below; never held while calling out
    std::set<const NPObject*> _live;
    std::map<NPP, InstanceRecord> _instances;
    std::uint64_t _lastSerial = 0;
    std::function<void()> _pictureListener;
};

} // namespace veltra::host
