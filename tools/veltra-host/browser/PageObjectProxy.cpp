#include "browser/PageObjectProxy.h"

#include "browser/HostFunctions.h"
#include "browser/Identifiers.h"
#include "browser/VariantConversion.h"

#include <string>
#include <vector>

namespace veltra::host {
namespace {

struct PageObjectProxy : NPObject
{
    std::shared_ptr<PageLink> page;
    PageHandle handle = 0;
};

PageObjectProxy* proxy(NPObject* object)
{
    return static_cast<PageObjectProxy*>(object);
}

std::vector<PageValue> pageArgs(const NPVariant* args, uint32_t count)
{
    std::vector<PageValue> values;
    values.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        values.push_back(toPageValue(args[i]));
    return values;
}

// Runs `call` against the proxy's page and fills `result` from what it answers; false when the
// page is gone, the call is made off the browser thread, or the page throws.
template <class Call>
bool callPage(NPObject* object, NPVariant* result, Call call)
{
    PageObjectProxy* self = proxy(object);
    PageScript* script = self->page ? self->page->script() : nullptr;
    HostFunctions* host = HostFunctions::current();
    if (!script || !host)
        return false;
    try
    {
        PageValue answer = call(*script, self->handle);
        return result ? toVariant(*host, self->page, answer, result) : true;
    }
    catch (const std::exception&)
    {
        return false;
    }
}

NPObject* allocate(NPP, NPClass*)
{
    return new PageObjectProxy();
}

void deallocate(NPObject* object)
{
    std::unique_ptr<PageObjectProxy> self(proxy(object));
    std::shared_ptr<PageLink> page = std::move(self->page);
    if (page)
        page->forgetProxy(self->handle, object);
    if (!page || !page->attached())
        return;
    if (PageScript* script = page->script())
    {
        script->release(self->handle);
        return;
    }
    // Freed off the browser thread: the page hears of it there, if it is still linked by then.
    PageHandle handle = self->handle;
    page->loop().post([page, handle] {
        if (PageScript* script = page->script())
            script->release(handle);
    });
}

bool hasMethod(NPObject* object, NPIdentifier name)
{
    bool found = false;
    callPage(object, nullptr, [&](PageScript& script, PageHandle handle) {
        found = script.hasMethod(handle, identifiers::propertyName(name));
        return PageValue();
    });
    return found;
}

bool hasProperty(NPObject* object, NPIdentifier name)
{
    bool found = false;
    callPage(object, nullptr, [&](PageScript& script, PageHandle handle) {
        found = script.hasProperty(handle, identifiers::propertyName(name));
        return PageValue();
    });
    return found;
}

bool invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count, NPVariant* result)
{
    if (!identifiers::isKnown(name))
        return false;
    return callPage(object, result, [&](PageScript& script, PageHandle handle) {
        return script.invoke(handle, identifiers::propertyName(name), pageArgs(args, count));
    });
}

bool invokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
{
    return callPage(object, result, [&](PageScript& script, PageHandle handle) {
        return script.invokeDefault(handle, pageArgs(args, count));
    });
}

bool getProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    if (!identifiers::isKnown(name))
        return false;
    return callPage(object, result, [&](PageScript& script, PageHandle handle) {
        return script.getProperty(handle, identifiers::propertyName(name));
    });
}

bool setProperty(NPObject* object, NPIdentifier name, const NPVariant* value)
{
    if (!identifiers::isKnown(name))
        return false;
    return callPage(object, nullptr, [&](PageScript& script, PageHandle handle) {
        script.setProperty(handle, identifiers::propertyName(name), toPageValue(*value));
        return PageValue();
    });
}

NPClass g_proxyClass = {NP_CLASS_STRUCT_VERSION,
                        allocate,
                        deallocate,
                        nullptr, // invalidate: nothing to cut beyond what the link does
                        hasMethod,
                        invoke,
                        invokeDefault,
                        hasProperty,
                        getProperty,
                        setProperty,
                        nullptr, // removeProperty, enumerate and construct: the page offers none of them
                        nullptr,
                        nullptr};

} // namespace

NPObject* PageLink::proxyFor(PageHandle handle) const
{
    std::lock_guard<std::mutex> guard(_proxiesLock);
    auto found = _proxies.find(handle);
    return found == _proxies.end() ? nullptr : found->second;
}

void PageLink::rememberProxy(PageHandle handle, NPObject* proxy)
{
    std::lock_guard<std::mutex> guard(_proxiesLock);
    _proxies[handle] = proxy;
}

void PageLink::forgetProxy(PageHandle handle, const NPObject* proxy)
{
    std::lock_guard<std::mutex> guard(_proxiesLock);
    auto found = _proxies.find(handle);
    if (found != _proxies.end() && found->second == proxy)
        _proxies.erase(found);
}

NPObject* makePageObjectProxy(HostFunctions& host, NPP npp, const std::shared_ptr<PageLink>& page, PageHandle handle)
{
    // Proxies are made on the browser thread, where the plug-in also drops its last references, so
    // one found here is still alive.
    if (NPObject* existing = page ? page->proxyFor(handle) : nullptr)
    {
        if (host.isLiveObject(existing) && existing->referenceCount > 0)
        {
            host.retainObject(existing);
            // The page handed over one reference with the handle; the proxy already holds one.
            if (PageScript* script = page->script())
                script->release(handle);
            return existing;
        }
    }
    NPObject* object = host.createObject(npp, &g_proxyClass);
    if (!object)
    {
        if (PageScript* script = page ? page->script() : nullptr)
            script->release(handle);
        return nullptr;
    }
    proxy(object)->page = page;
    proxy(object)->handle = handle;
    if (page)
        page->rememberProxy(handle, object);
    return object;
}

std::optional<PageHandle> pageHandleOf(const NPObject* object)
{
    if (!object || object->_class != &g_proxyClass)
        return std::nullopt;
    return static_cast<const PageObjectProxy*>(object)->handle;
}

} // namespace veltra::host
