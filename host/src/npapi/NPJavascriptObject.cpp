#include "npapi/NPJavascriptObject.h"

#include "npapi/NpapiVariant.h"
#include "variant/ScriptErrors.h"

#include <exception>

namespace FB::Npapi {
namespace {

const char* const AddEventListener = "addEventListener";
const char* const RemoveEventListener = "removeEventListener";

NPJavascriptObject* self(NPObject* object)
{
    return static_cast<NPJavascriptObject*>(object);
}

} // namespace

NPClass* NPJavascriptObject::npClass()
{
    static NPClass javascriptObjectClass = {NP_CLASS_STRUCT_VERSION,
                                            &NPJavascriptObject::allocate,
                                            &NPJavascriptObject::deallocate,
                                            &NPJavascriptObject::invalidateCallback,
                                            &NPJavascriptObject::hasMethod,
                                            &NPJavascriptObject::invoke,
                                            &NPJavascriptObject::invokeDefault,
                                            &NPJavascriptObject::hasProperty,
                                            &NPJavascriptObject::getProperty,
                                            &NPJavascriptObject::setProperty,
                                            &NPJavascriptObject::removeProperty,
                                            &NPJavascriptObject::enumerate,
                                            nullptr};
    return &javascriptObjectClass;
}

bool NPJavascriptObject::isNPJavascriptObject(const NPObject* object)
{
    return object && object->_class == npClass();
}

NPJavascriptObject* NPJavascriptObject::create(const NpapiBrowserPtr& browser, const JSAPIPtr& api)
{
    if (!browser || !api)
        return nullptr;
    NPObject* object = browser->createObject(npClass());
    if (!object)
        return nullptr;
    NPJavascriptObject* created = self(object);
    created->_browser = browser;
    created->_api = api;
    created->_funcs = browser->funcs();
    return created;
}

JSAPIPtr NPJavascriptObject::getAPI() const
{
    return _api;
}

bool NPJavascriptObject::isValid() const
{
    NpapiBrowserPtr browser = _browser.lock();
    return browser && !browser->isShutDown() && _api && _api->isValid();
}

void NPJavascriptObject::invalidate()
{
    // Moved out first: destroying the JSAPI may release page objects, which may call back into this object.
    JSAPIPtr api;
    api.swap(_api);
    if (NpapiBrowserPtr browser = _browser.lock())
        browser->forgetWrapper(this);
}

void NPJavascriptObject::fail(const std::string& message)
{
    if (NpapiBrowserPtr browser = _browser.lock())
        browser->setException(this, message);
    else if (_funcs && _funcs->setexception)
        _funcs->setexception(this, message.c_str());
}

template <typename Call>
bool NPJavascriptObject::guarded(Call&& call)
{
    NpapiBrowserPtr browser = _browser.lock();
    // A local reference: the call may invalidate this object (the page removing the plug-in) while it runs.
    JSAPIPtr api = _api;
    if (!browser || browser->isShutDown() || !api || !api->isValid())
    {
        fail(object_invalidated().what());
        return false;
    }
    // Exceptions must not unwind into the browser, which is C code.
    try
    {
        call(browser, api);
        return true;
    }
    catch (const std::exception& error)
    {
        fail(error.what());
    }
    catch (...)
    {
        fail("Unknown exception");
    }
    return false;
}

void NPJavascriptObject::handleEventListener(const NpapiBrowserPtr& browser, const JSAPIPtr& api, bool attach,
                                             const NPVariant* args, uint32_t count)
{
    if (count < 2 || count > 3)
        throw invalid_arguments();
    std::string event;
    JSObjectPtr handler;
    try
    {
        event = NpapiVariant::toVariant(browser, args[0]).convert_cast<std::string>();
        handler = NpapiVariant::toVariant(browser, args[1]).convert_cast<JSObjectPtr>();
    }
    catch (const bad_variant_cast&)
    {
        throw invalid_arguments();
    }
    if (!handler)
        throw invalid_arguments();
    // The third argument (capture) has no meaning for a plug-in object and is ignored.
    if (attach)
        api->attachEvent("on" + event, handler);
    else
        api->detachEvent("on" + event, handler);
}

NPObject* NPJavascriptObject::allocate(NPP, NPClass*)
{
    return new NPJavascriptObject();
}

void NPJavascriptObject::deallocate(NPObject* object)
{
    NPJavascriptObject* wrapper = self(object);
    if (NpapiBrowserPtr browser = wrapper->_browser.lock())
        browser->forgetWrapper(wrapper);
    delete wrapper;
}

void NPJavascriptObject::invalidateCallback(NPObject* object)
{
    self(object)->invalidate();
}

bool NPJavascriptObject::hasMethod(NPObject* object, NPIdentifier name)
{
    NPJavascriptObject* wrapper = self(object);
    NpapiBrowserPtr browser = wrapper->_browser.lock();
    // On an invalidated object every name is answered, so that the call itself arrives and can report why it fails.
    if (!wrapper->isValid())
        return true;
    try
    {
        const std::string method = browser->stringFromIdentifier(name);
        return method == AddEventListener || method == RemoveEventListener || wrapper->getAPI()->hasMethod(method);
    }
    catch (...)
    {
        return false;
    }
}

bool NPJavascriptObject::invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                                NPVariant* result)
{
    VOID_TO_NPVARIANT(*result);
    NPJavascriptObject* wrapper = self(object);
    return wrapper->guarded([&](const NpapiBrowserPtr& browser, const JSAPIPtr& api) {
        const std::string method = browser->stringFromIdentifier(name);
        // The bridge's own members come before the object's.
        if (method == AddEventListener || method == RemoveEventListener)
            return wrapper->handleEventListener(browser, api, method == AddEventListener, args, count);
        variant value = api->invoke(method, NpapiVariant::toVariantList(browser, args, count));
        *result = NpapiVariant::toNPVariant(browser, value);
    });
}

bool NPJavascriptObject::invokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
{
    VOID_TO_NPVARIANT(*result);
    // Calling the object itself runs its default method, the one registered under the empty name.
    return self(object)->guarded([&](const NpapiBrowserPtr& browser, const JSAPIPtr& api) {
        variant value = api->invoke("", NpapiVariant::toVariantList(browser, args, count));
        *result = NpapiVariant::toNPVariant(browser, value);
    });
}

bool NPJavascriptObject::hasProperty(NPObject* object, NPIdentifier name)
{
    NPJavascriptObject* wrapper = self(object);
    NpapiBrowserPtr browser = wrapper->_browser.lock();
    if (!wrapper->isValid())
        return true; // as in hasMethod: let the read arrive and fail with the reason
    try
    {
        return wrapper->getAPI()->hasProperty(browser->stringFromIdentifier(name));
    }
    catch (...)
    {
        return false;
    }
}

bool NPJavascriptObject::getProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    VOID_TO_NPVARIANT(*result);
    return self(object)->guarded([&](const NpapiBrowserPtr& browser, const JSAPIPtr& api) {
        variant value = api->getProperty(browser->stringFromIdentifier(name));
        *result = NpapiVariant::toNPVariant(browser, value);
    });
}

bool NPJavascriptObject::setProperty(NPObject* object, NPIdentifier name, const NPVariant* value)
{
    return self(object)->guarded([&](const NpapiBrowserPtr& browser, const JSAPIPtr& api) {
        api->setProperty(browser->stringFromIdentifier(name), NpapiVariant::toVariant(browser, *value));
    });
}

bool NPJavascriptObject::removeProperty(NPObject* object, NPIdentifier name)
{
    return self(object)->guarded([&](const NpapiBrowserPtr& browser, const JSAPIPtr& api) {
        api->removeProperty(browser->stringFromIdentifier(name));
    });
}

bool NPJavascriptObject::enumerate(NPObject* object, NPIdentifier** names, uint32_t* count)
{
    *names = nullptr;
    *count = 0;
    return self(object)->guarded([&](const NpapiBrowserPtr& browser, const JSAPIPtr& api) {
        const std::vector<std::string> members = api->getMemberNames();
        if (members.empty())
            return;
        // The browser frees the block, so it must come from the browser's allocator.
        auto* block =
            static_cast<NPIdentifier*>(browser->memAlloc(static_cast<uint32_t>(members.size() * sizeof(NPIdentifier))));
        if (!block)
            throw script_error("Out of memory");
        for (std::size_t i = 0; i < members.size(); ++i)
            block[i] = browser->getStringIdentifier(members[i]);
        *names = block;
        *count = static_cast<uint32_t>(members.size());
    });
}

} // namespace FB::Npapi
