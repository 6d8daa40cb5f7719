#include "browser/VariantConversion.h"

#include "browser/HostFunctions.h"
#include "browser/PageObjectProxy.h"

#include <cstring>
#include <limits>

namespace veltra::host {

PageValue toPageValue(const NPVariant& value)
{
    switch (value.type)
    {
    case NPVariantType_Null: return PageValue::null();
    case NPVariantType_Bool: return PageValue::boolean(value.value.boolValue);
    case NPVariantType_Int32: return PageValue::integer(value.value.intValue);
    case NPVariantType_Double: return PageValue::number(value.value.doubleValue);
    case NPVariantType_String:
    {
        const NPString& text = value.value.stringValue;
        if (!text.UTF8Characters)
            return PageValue::string({});
        return PageValue::string(std::string(text.UTF8Characters, text.UTF8Length));
    }
    case NPVariantType_Object:
        if (std::optional<PageHandle> handle = pageHandleOf(value.value.objectValue))
            return PageValue::pageObject(*handle);
        return PageValue::pluginObject(value.value.objectValue);
    default: return {};
    }
}

bool toVariant(HostFunctions& host, const std::shared_ptr<PageLink>& page, const PageValue& value, NPVariant* out)
{
    VOID_TO_NPVARIANT(*out);
    switch (value.type())
    {
    case PageValue::Type::Void: return true;
    case PageValue::Type::Null: NULL_TO_NPVARIANT(*out); return true;
    case PageValue::Type::Boolean: BOOLEAN_TO_NPVARIANT(value.asBool(), *out); return true;
    case PageValue::Type::Int: INT32_TO_NPVARIANT(value.asInt(), *out); return true;
    case PageValue::Type::Double: DOUBLE_TO_NPVARIANT(value.asDouble(), *out); return true;
    case PageValue::Type::String:
    {
        const std::string& text = value.asString();
        if (text.size() > std::numeric_limits<uint32_t>::max())
            return false;
        // Through memalloc, so that releasevariantvalue (ours or the plug-in's) frees it.
        auto* chars = static_cast<NPUTF8*>(host.table()->memalloc(static_cast<uint32_t>(text.size())));
        if (!chars)
            return false;
        std::memcpy(chars, text.data(), text.size());
        STRINGN_TO_NPVARIANT(chars, text.size(), *out);
        return true;
    }
    case PageValue::Type::PageObject:
    {
        NPObject* proxy = makePageObjectProxy(host, page ? page->npp() : nullptr, page, value.asPageObject());
        if (!proxy)
            return false;
        OBJECT_TO_NPVARIANT(proxy, *out);
        return true;
    }
    case PageValue::Type::PluginObject:
    {
        NPObject* object = value.asPluginObject();
        if (!host.isLiveObject(object))
            return false;
        OBJECT_TO_NPVARIANT(host.retainObject(object), *out);
        return true;
    }
    }
    return false;
}

} // namespace veltra::host
