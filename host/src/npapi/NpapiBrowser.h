#pragma once

#include "npapi/NpapiTypes.h"
#include "variant/variant.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace FB::Npapi {

class NpapiBrowser;
class NPJavascriptObject;
class NPObjectAPI;
using NpapiBrowserPtr = std::shared_ptr<NpapiBrowser>;
using NpapiBrowserWeakPtr = std::weak_ptr<NpapiBrowser>;
using NPObjectAPIPtr = std::shared_ptr<NPObjectAPI>;

/// The browser's scripting services for one plug-in instance: a thin wrapper over the browser's function table and
/// the instance handle. Every method runs on the browser thread. Objects that outlive it (page objects held by the
/// plug-in, our objects kept by the page) hold it weakly and stop calling the browser once it is gone.
class NpapiBrowser : public std::enable_shared_from_this<NpapiBrowser>
{
public:
    /// `funcs` is the table the browser handed to NP_Initialize; it must outlive this object.
    static NpapiBrowserPtr create(const NPNetscapeFuncs* funcs, NPP npp);
    ~NpapiBrowser();
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

    /// The one NPJavascriptObject that stands for `api` in this browser, created on first use; the caller owns one
    /// reference. Null after shutdown or when the browser refuses to create objects.
    NPJavascriptObject* getJSAPIWrapper(const JSAPIPtr& api);

    /// Called by the instance before it lets go of this object (plug-in destruction): every NPJavascriptObject still
    /// held by the page drops its scriptable object and answers "This object is no longer valid" from then on.
    void shutdown();
    bool isShutDown() const { return _shutDown; }

private:
    friend class NPJavascriptObject;
    NpapiBrowser(const NPNetscapeFuncs* funcs, NPP npp);
    /// Called when a wrapper is deallocated so that the next request creates a fresh one.
    void forgetWrapper(const NPJavascriptObject* wrapper);

    const NPNetscapeFuncs* _funcs;
    NPP _npp;
    // Not owned: each wrapper removes itself when the browser deallocates it.
    std::map<const JSAPI*, NPJavascriptObject*> _wrappers;
    bool _shutDown = false;
};

} // namespace FB::Npapi
