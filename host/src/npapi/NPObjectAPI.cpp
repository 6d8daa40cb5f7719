#include "npapi/NPObjectAPI.h"

#include "npapi/NpapiHeaders.h"
#include "npapi/NpapiVariant.h"
#include "variant/ScriptErrors.h"

#include <vector>

namespace FB::Npapi {

NPObjectAPI::NPObjectAPI(NPObject* object, const NpapiBrowserPtr& browser) : _object(object), _browser(browser)
{
    if (browser)
        browser->retainObject(_object);
}

NPObjectAPI::~NPObjectAPI()
{
    // The browser's table may already be gone (plug-in torn down first); then the page has freed its objects anyway.
    NpapiBrowserPtr browser = _browser.lock();
    if (!browser)
        return;
    if (browser->isMainThread())
        browser->releaseObject(_object);
    else
        browser->releaseFromAnyThread(_object);
}

NpapiBrowserPtr NPObjectAPI::browser() const
{
    NpapiBrowserPtr browser = _browser.lock();
    if (!browser || browser->isShutDown())
        throw object_invalidated();
    return browser;
}

template <typename Call>
variant NPObjectAPI::call(const VariantList& args, const std::string& what, Call&& invoker)
{
    NpapiBrowserPtr browser = this->browser();
    if (!browser->isMainThread())
        return browser->callOnMainThread([&] { return call(args, what, invoker); });
    std::vector<NPVariant> converted;
    converted.reserve(args.size());
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    bool succeeded = false;
    try
    {
        for (const variant& arg : args)
            converted.push_back(NpapiVariant::toNPVariant(browser, arg));
        succeeded = invoker(*browser, converted.empty() ? nullptr : converted.data(),
                            static_cast<uint32_t>(converted.size()), &result);
    }
    catch (...)
    {
        for (NPVariant& arg : converted)
            browser->releaseVariantValue(&arg);
        throw;
    }
    for (NPVariant& arg : converted)
        browser->releaseVariantValue(&arg);
    if (!succeeded)
        throw script_error("Error calling " + what);
    variant value;
    try
    {
        value = NpapiVariant::toVariant(browser, result);
    }
    catch (...)
    {
        browser->releaseVariantValue(&result);
        throw;
    }
    browser->releaseVariantValue(&result);
    return value;
}

variant NPObjectAPI::invokeDefault(const VariantList& args)
{
    return call(args, "the page function",
                [this](const NpapiBrowser& browser, const NPVariant* values, uint32_t count, NPVariant* result) {
                    return browser.invokeDefault(_object, values, count, result);
                });
}

variant NPObjectAPI::invoke(const std::string& name, const VariantList& args)
{
    return call(args, "method " + name,
                [this, &name](const NpapiBrowser& browser, const NPVariant* values, uint32_t count, NPVariant* result) {
                    return browser.invoke(_object, browser.getStringIdentifier(name), values, count, result);
                });
}

variant NPObjectAPI::getProperty(const std::string& name)
{
    return call({}, "property " + name,
                [this, &name](const NpapiBrowser& browser, const NPVariant*, uint32_t, NPVariant* result) {
                    return browser.getProperty(_object, browser.getStringIdentifier(name), result);
                });
}

void NPObjectAPI::setProperty(const std::string& name, const variant& value)
{
    NpapiBrowserPtr browser = this->browser();
    if (!browser->isMainThread())
        return browser->callOnMainThread([&] { setProperty(name, value); });
    NPVariant converted = NpapiVariant::toNPVariant(browser, value);
    bool succeeded = browser->setProperty(_object, browser->getStringIdentifier(name), &converted);
    browser->releaseVariantValue(&converted);
    if (!succeeded)
        throw script_error("Error setting property " + name);
}

bool NPObjectAPI::hasMethod(const std::string& name)
{
    NpapiBrowserPtr browser = this->browser();
    if (!browser->isMainThread())
        return browser->callOnMainThread([&] { return hasMethod(name); });
    return browser->hasMethod(_object, browser->getStringIdentifier(name));
}

bool NPObjectAPI::hasProperty(const std::string& name)
{
    NpapiBrowserPtr browser = this->browser();
    if (!browser->isMainThread())
        return browser->callOnMainThread([&] { return hasProperty(name); });
    return browser->hasProperty(_object, browser->getStringIdentifier(name));
}

bool NPObjectAPI::isSameObject(const JSObject& other) const
{
    auto* page = dynamic_cast<const NPObjectAPI*>(&other);
    return page && page->_object == _object;
}

} // namespace FB::Npapi
