#pragma once

#include "npapi/NpapiBrowser.h"
#include "npapi/NpapiHeaders.h"
#include "scripting/JSAPI.h"

#include <string>

namespace FB::Npapi {

/// The browser object through which a page reaches one of our scriptable objects: its NPClass callbacks forward to
/// the JSAPI on the browser thread, answer "addEventListener" / "removeEventListener" themselves and turn failures
/// into script exceptions. Created only through NpapiBrowser::getJSAPIWrapper, so that each JSAPI has one per browser.
///
/// It holds its JSAPI strongly (an object handed to the page lives as long as the page keeps it) and its browser
/// weakly. After invalidation (plug-in destroyed, browser gone) it lets go of the JSAPI and every call fails with
/// "This object is no longer valid".
class NPJavascriptObject : public NPObject
{
public:
    /// The class of every NPJavascriptObject; an NPObject of this class is one of ours.
    static NPClass* npClass();
    static bool isNPJavascriptObject(const NPObject* object);

    /// A new object with one reference standing for `api`, or null when the browser refuses.
    static NPJavascriptObject* create(const NpapiBrowserPtr& browser, const JSAPIPtr& api);

    /// The scriptable object behind this one; null once invalidated.
    JSAPIPtr getAPI() const;
    bool isValid() const;
    /// Lets go of the JSAPI; later calls from the page fail with "This object is no longer valid".
    void invalidate();

    NPJavascriptObject(const NPJavascriptObject&) = delete;
    NPJavascriptObject& operator=(const NPJavascriptObject&) = delete;

private:
    NPJavascriptObject() = default;
    ~NPJavascriptObject() = default;

    // The NPClass callbacks.
    static NPObject* allocate(NPP npp, NPClass* npClass);
    static void deallocate(NPObject* object);
    static void invalidateCallback(NPObject* object);
    static bool hasMethod(NPObject* object, NPIdentifier name);
    static bool invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count, NPVariant* result);
    static bool invokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result);
    static bool hasProperty(NPObject* object, NPIdentifier name);
    static bool getProperty(NPObject* object, NPIdentifier name, NPVariant* result);
    static bool setProperty(NPObject* object, NPIdentifier name, const NPVariant* value);
    static bool removeProperty(NPObject* object, NPIdentifier name);
    static bool enumerate(NPObject* object, NPIdentifier** names, uint32_t* count);

    /// Runs `call` with the live browser and JSAPI; script errors and other exceptions become script exceptions and
    /// a false result, as does a call on an invalidated object.
    template <typename Call>
    bool guarded(Call&& call);
    void fail(const std::string& message);
    /// "addEventListener" / "removeEventListener" with their arguments.
    void handleEventListener(const NpapiBrowserPtr& browser, const JSAPIPtr& api, bool attach, const NPVariant* args,
                             uint32_t count);

    NpapiBrowserWeakPtr _browser;
    JSAPIPtr _api;
    // Kept to report "no longer valid" after the browser wrapper is gone; the table lives as long as the browser.
    const NPNetscapeFuncs* _funcs = nullptr;
};

} // namespace FB::Npapi
