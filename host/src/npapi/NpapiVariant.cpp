#include "npapi/NpapiVariant.h"

#include "npapi/NPJavascriptObject.h"
#include "npapi/NPObjectAPI.h"
#include "npapi/NpapiHeaders.h"

#include <cstring>
#include <limits>

namespace FB::Npapi {
namespace {

template <typename T>
bool holds(const variant& value)
{
    return value.is_of_type<T>();
}

bool holdsSigned(const variant& value)
{
    return holds<char>(value) || holds<signed char>(value) || holds<short>(value) || holds<int>(value) ||
           holds<long>(value) || holds<long long>(value);
}

bool holdsUnsigned(const variant& value)
{
    return holds<unsigned char>(value) || holds<unsigned short>(value) || holds<unsigned int>(value) ||
           holds<unsigned long>(value) || holds<unsigned long long>(value);
}

NPVariant wholeNumber(long double number)
{
    NPVariant result;
    if (number >= std::numeric_limits<int32_t>::min() && number <= std::numeric_limits<int32_t>::max())
        INT32_TO_NPVARIANT(static_cast<int32_t>(number), result);
    else
        DOUBLE_TO_NPVARIANT(static_cast<double>(number), result);
    return result;
}

NPVariant stringCopy(const NpapiBrowserPtr& browser, const std::string& text)
{
    // The browser frees strings it receives with its own allocator, so the copy must come from it.
    auto* chars = static_cast<NPUTF8*>(browser->memAlloc(static_cast<uint32_t>(text.size() + 1)));
    NPVariant result;
    if (!chars)
    {
        VOID_TO_NPVARIANT(result);
        return result;
    }
    std::memcpy(chars, text.c_str(), text.size() + 1);
    STRINGN_TO_NPVARIANT(chars, static_cast<uint32_t>(text.size()), result);
    return result;
}

NPVariant pageArray(const NpapiBrowserPtr& browser, const VariantList& items)
{
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    NPObjectAPIPtr window = browser->getWindowObject();
    if (!window)
        return result;
    NPVariant array;
    if (!browser->invoke(window->getNPObject(), browser->getStringIdentifier("Array"), nullptr, 0, &array))
        return result;
    if (!NPVARIANT_IS_OBJECT(array))
    {
        browser->releaseVariantValue(&array);
        return result;
    }
    NPIdentifier push = browser->getStringIdentifier("push");
    for (const variant& item : items)
    {
        NPVariant element = NpapiVariant::toNPVariant(browser, item);
        NPVariant ignored;
        bool pushed = browser->invoke(NPVARIANT_TO_OBJECT(array), push, &element, 1, &ignored);
        browser->releaseVariantValue(&element);
        if (pushed)
            browser->releaseVariantValue(&ignored);
        // A page whose arrays refuse elements gets no half-filled array.
        if (!pushed)
        {
            browser->releaseVariantValue(&array);
            return result;
        }
    }
    return array;
}

} // namespace

variant NpapiVariant::toVariant(const NpapiBrowserPtr& browser, const NPVariant& value)
{
    switch (value.type)
    {
    case NPVariantType_Void: return variant();
    case NPVariantType_Null: return variant(FBNull());
    case NPVariantType_Bool: return variant(NPVARIANT_TO_BOOLEAN(value));
    case NPVariantType_Int32: return variant(static_cast<int>(NPVARIANT_TO_INT32(value)));
    case NPVariantType_Double: return variant(NPVARIANT_TO_DOUBLE(value));
    case NPVariantType_String:
    {
        const NPString& text = NPVARIANT_TO_STRING(value);
        return variant(text.UTF8Characters ? std::string(text.UTF8Characters, text.UTF8Length) : std::string());
    }
    case NPVariantType_Object:
    {
        NPObject* object = NPVARIANT_TO_OBJECT(value);
        if (!object)
            return variant(FBNull());
        // One of ours comes back as itself; a wrapper that outlived its object can only be null.
        if (NPJavascriptObject::isNPJavascriptObject(object))
            return variant(static_cast<NPJavascriptObject*>(object)->getAPI());
        return variant(JSObjectPtr(std::make_shared<NPObjectAPI>(object, browser)));
    }
    }
    return variant();
}

VariantList NpapiVariant::toVariantList(const NpapiBrowserPtr& browser, const NPVariant* values, uint32_t count)
{
    VariantList list;
    list.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        list.push_back(toVariant(browser, values[i]));
    return list;
}

NPVariant NpapiVariant::toNPVariant(const NpapiBrowserPtr& browser, const variant& value)
{
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    if (value.empty())
        return result;
    if (value.is_null())
    {
        NULL_TO_NPVARIANT(result);
        return result;
    }
    if (holds<bool>(value))
    {
        BOOLEAN_TO_NPVARIANT(value.convert_cast<bool>(), result);
        return result;
    }
    if (holdsSigned(value))
        return wholeNumber(static_cast<long double>(value.convert_cast<long long>()));
    if (holdsUnsigned(value))
        return wholeNumber(static_cast<long double>(value.convert_cast<unsigned long long>()));
    if (holds<float>(value) || holds<double>(value))
    {
        DOUBLE_TO_NPVARIANT(value.convert_cast<double>(), result);
        return result;
    }
    if (const std::string* text = value.get_ptr<std::string>())
        return stringCopy(browser, *text); // the browser's copy is the only one made
    if (holds<std::wstring>(value))
        return stringCopy(browser, value.convert_cast<std::string>());
    if (holds<JSAPIPtr>(value))
    {
        // Already retained for the receiver by getJSAPIWrapper.
        if (NPJavascriptObject* wrapper = browser->getJSAPIWrapper(value.convert_cast<JSAPIPtr>()))
            OBJECT_TO_NPVARIANT(static_cast<NPObject*>(wrapper), result);
        return result;
    }
    if (holds<JSObjectPtr>(value))
    {
        if (auto pageObject = std::dynamic_pointer_cast<NPObjectAPI>(value.convert_cast<JSObjectPtr>()))
            OBJECT_TO_NPVARIANT(browser->retainObject(pageObject->getNPObject()), result);
        return result;
    }
    if (holds<VariantList>(value))
        return pageArray(browser, value.convert_cast<VariantList>());
    return result;
}

} // namespace FB::Npapi
