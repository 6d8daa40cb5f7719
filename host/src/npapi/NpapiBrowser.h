#pragma once

#include "npapi/NpapiTypes.h"
#include "scripting/BrowserHost.h"
#include "variant/variant.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace FB::Npapi {

class NpapiBrowser;
class NPJavascriptObject;
class NPObjectAPI;
using NpapiBrowserPtr = std::shared_ptr<NpapiBrowser>;
using NpapiBrowserWeakPtr = std::weak_ptr<NpapiBrowser>;
using NPObjectAPIPtr = std::shared_ptr<NPObjectAPI>;

/// The browser host of one plug-in instance in an NPAPI browser: a thin wrapper over the browser's function table
/// and the instance handle. The thread that creates it is taken as the browser thread; every method below runs
/// there, except the BrowserHost services, which marshal. Objects that outlive it (page objects held by the plug-in,
/// our objects kept by the page) hold it weakly and stop calling the browser once it is gone.
class NpapiBrowser : public BrowserHost
{
public:
    /// `funcs` is the table the browser handed to NP_Initialize; it must outlive this object.
    static NpapiBrowserPtr create(const NPNetscapeFuncs* funcs, NPP npp);
    ~NpapiBrowser() override;
    NpapiBrowser(const NpapiBrowser&) = delete;
    NpapiBrowser& operator=(const NpapiBrowser&) = delete;

    const NPNetscapeFuncs* funcs() const { return _funcs; }
    NPP npp() const { return _npp; }

    /// Identifiers: browser-interned names of members.
    NPIdentifier getStringIdentifier(const std::string& name) const;
    NPIdentifier getIntIdentifier(int32_t number) const;
    bool identifierIsString(NPIdentifier id) const;
    /// The name of `id`; an integer identifier gives its decimal text.
    std::string stringFromIdentifier(NPIdentifier id) const;
    int32_t intFromIdentifier(NPIdentifier id) const;

    /// A new object of `npClass` with one reference, or null.
    NPObject* createObject(NPClass* npClass) const;
    NPObject* retainObject(NPObject* object) const;
    void releaseObject(NPObject* object) const;
    /// For a reference dropped off the browser thread: the browser takes it back on its own thread, at the next
    /// queued call or at the latest when the instance is destroyed (releaseDeferredObjects).
    void releaseFromAnyThread(NPObject* object);
    /// Gives back the references left by releaseFromAnyThread. Browser thread only.
    void releaseDeferredObjects();

    /// Calls on page objects; `result` belongs to the caller (releaseVariantValue) when the call succeeded.
    bool invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count, NPVariant* result) const;
    bool invokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result) const;
    bool getProperty(NPObject* object, NPIdentifier name, NPVariant* result) const;
    bool setProperty(NPObject* object, NPIdentifier name, const NPVariant* value) const;
    bool hasMethod(NPObject* object, NPIdentifier name) const;
    bool hasProperty(NPObject* object, NPIdentifier name) const;
    bool removeProperty(NPObject* object, NPIdentifier name) const;
    /// The member names of `object`; false when the browser cannot enumerate it.
    bool enumerate(NPObject* object, std::vector<NPIdentifier>& names) const;

    void releaseVariantValue(NPVariant* value) const;
    /// Raises a script exception carrying `message` for the call in progress on `object`.
    void setException(NPObject* object, const std::string& message) const;
    void* memAlloc(uint32_t size) const;
    void memFree(void* block) const;

    /// The page's window object, or null when the browser does not give it.
    NPObjectAPIPtr getWindowObject();
    /// The browser's user-agent text, "" when it gives none.
    std::string userAgent() const;

    bool isMainThread() const override;

    /// The one NPJavascriptObject that stands for `api` in this browser, created on first use; the caller owns one
    /// reference. Null after shutdown or when the browser refuses to create objects.
    NPJavascriptObject* getJSAPIWrapper(const JSAPIPtr& api);

    /// Called by the instance before it lets go of this object (plug-in destruction): besides the BrowserHost
    /// shutdown, every NPJavascriptObject still held by the page drops its scriptable object and answers
    /// "This object is no longer valid" from then on, and no asynchronous call reaches the browser any more.
    void shutdown() override;

protected:
    bool scheduleAsyncCall(std::function<void()> call) override;
    variant evaluate(const std::string& script) override;
    JSObjectPtr domWindow() override;
    /// One call of a page function (installed by the first write) that shows every line; the texts travel as
    /// string arguments, the way console.log would get them, so their bytes reach the page as the browser passes
    /// any string. Uses the browser directly rather than page-object wrappers, so that the plug-in's last words
    /// during its destruction still reach the page after shutdown.
    bool writeToConsole(const std::vector<ConsoleLine>& lines) override;

private:
    friend class NPJavascriptObject;
    NpapiBrowser(const NPNetscapeFuncs* funcs, NPP npp);
    NpapiBrowserPtr self() { return std::static_pointer_cast<NpapiBrowser>(shared_from_this()); }
    /// Called when a wrapper is deallocated so that the next request creates a fresh one.
    void forgetWrapper(const NPJavascriptObject* wrapper);
    /// Defines the page function that writeToConsole calls; false when the page rejects it.
    bool installConsoleFunction(NPObject* window);
    /// One call of that function with `count` lines from `first`: 1 when the page wrote them, 0 when it has no
    /// console, -1 when the call itself failed.
    int callConsoleFunction(NPObject* window, const ConsoleLine* first, std::size_t count);

    const NPNetscapeFuncs* _funcs;
    NPP _npp;
    // Not owned: each wrapper removes itself when the browser deallocates it.
    std::map<const JSAPI*, NPJavascriptObject*> _wrappers;
    std::thread::id _mainThread;
    // Held while handing a call to the browser and while closing, so that no call reaches the browser for an
    // instance that has gone.
    std::mutex _scheduleLock;
    bool _closed = false;
    std::mutex _deferredLock;
    std::vector<NPObject*> _deferredReleases; // references owed to the browser, not objects we own
    bool _consoleFunctionInstalled = false;   // browser thread only
};

} // namespace FB::Npapi
