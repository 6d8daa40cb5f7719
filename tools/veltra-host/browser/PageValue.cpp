#include "browser/PageValue.h"

#include <utility>

namespace veltra::host {

PageValue PageValue::null()
{
    PageValue value;
    value._value = NullTag{};
    return value;
}

PageValue PageValue::boolean(bool flag)
{
    PageValue value;
    value._value = flag;
    return value;
}

PageValue PageValue::integer(std::int32_t number)
{
    PageValue value;
    value._value = number;
    return value;
}

PageValue PageValue::number(double number)
{
    PageValue value;
    value._value = number;
    return value;
}

PageValue PageValue::string(std::string text)
{
    PageValue value;
    value._value = std::move(text);
    return value;
}

PageValue PageValue::pageObject(PageHandle handle)
{
    PageValue value;
    value._value = Handle{handle};
    return value;
}

PageValue PageValue::pluginObject(NPObject* object)
{
    if (!object)
        return null();
    PageValue value;
    value._value = object;
    return value;
}

bool PageValue::asBool() const
{
    const bool* flag = std::get_if<bool>(&_value);
    return flag && *flag;
}

std::int32_t PageValue::asInt() const
{
    const std::int32_t* number = std::get_if<std::int32_t>(&_value);
    return number ? *number : 0;
}

double PageValue::asDouble() const
{
    if (const double* number = std::get_if<double>(&_value))
        return *number;
    return asInt();
}

const std::string& PageValue::asString() const
{
    static const std::string empty;
    const std::string* text = std::get_if<std::string>(&_value);
    return text ? *text : empty;
}

PageHandle PageValue::asPageObject() const
{
    const Handle* handle = std::get_if<Handle>(&_value);
    return handle ? handle->id : 0;
}

NPObject* PageValue::asPluginObject() const
{
    NPObject* const* object = std::get_if<NPObject*>(&_value);
    return object ? *object : nullptr;
}

} // namespace veltra::host
