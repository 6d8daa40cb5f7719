#include "com/ComVariantConversion.h"

#include "com/ComDispatchBridge.h"
#include "com/ComDispatchObject.h"
#include "scripting/JSAPI.h"
#include "variant/ScriptErrors.h"

#include <limits>
#include <memory>

namespace FB::Com {
namespace {

bool holdsSigned(const variant& value)
{
    return value.is_of_type<char>() || value.is_of_type<signed char>() || value.is_of_type<short>() ||
           value.is_of_type<int>() || value.is_of_type<long>() || value.is_of_type<long long>();
}

bool holdsUnsigned(const variant& value)
{
    return value.is_of_type<unsigned char>() || value.is_of_type<unsigned short>() ||
           value.is_of_type<unsigned int>() || value.is_of_type<unsigned long>() ||
           value.is_of_type<unsigned long long>();
}

ComVariant wholeNumber(long double number)
{
    if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max())
        return ComVariant(static_cast<std::int32_t>(number));
    return ComVariant(static_cast<double>(number));
}

// What a list becomes for a script host without page arrays to fill: an object that reads like one.
class ListObject final : public JSAPI
{
public:
    explicit ListObject(VariantList items) : _items(std::move(items)) {}

    bool hasMethod(const std::string&) const override { return false; }
    bool hasProperty(const std::string& name) const override { return name == "length" || index(name) >= 0; }
    variant getProperty(const std::string& name) override
    {
        if (name == "length")
            return variant(static_cast<int>(_items.size()));
        const long position = index(name);
        if (position < 0)
            throw invalid_member(name);
        return _items[static_cast<std::size_t>(position)];
    }
    void setProperty(const std::string& name, const variant&) override
    {
        throw script_error("Cannot set read-only property " + name);
    }
    void removeProperty(const std::string& name) override
    {
        throw script_error("Cannot remove read-only property " + name);
    }
    variant invoke(const std::string& name, const VariantList&) override { throw invalid_member(name); }
    std::vector<std::string> getMemberNames() const override
    {
        std::vector<std::string> names{"length"};
        for (std::size_t i = 0; i < _items.size(); ++i)
            names.push_back(std::to_string(i));
        return names;
    }

private:
    // The element position `name` spells in plain decimal digits, or -1.
    long index(const std::string& name) const
    {
        if (name.empty() || name.size() > 9 || (name.size() > 1 && name[0] == '0'))
            return -1;
        long position = 0;
        for (char digit : name)
        {
            if (digit < '0' || digit > '9')
                return -1;
            position = position * 10 + (digit - '0');
        }
        return position < static_cast<long>(_items.size()) ? position : -1;
    }

    VariantList _items;
};

ComVariant bridgeValue(const JSAPIPtr& api)
{
    if (!api)
        return ComVariant();
    DispatchBridge* bridge = DispatchBridge::wrap(api);
    ComVariant value(static_cast<IDispatch*>(bridge));
    bridge->Release(); // the value holds its own reference
    return value;
}

} // namespace

variant toVariant(const ComVariant& value)
{
    switch (value.type())
    {
    case ComVariant::Type::Empty: return variant();
    case ComVariant::Type::Null: return variant(FBNull());
    case ComVariant::Type::Bool: return variant(*value.boolValue());
    case ComVariant::Type::Int32: return variant(static_cast<int>(*value.int32Value()));
    case ComVariant::Type::Double: return variant(*value.doubleValue());
    case ComVariant::Type::String: return variant(*value.stringValue());
    case ComVariant::Type::Dispatch:
    {
        IDispatch* object = value.dispatchValue();
        if (JSAPIPtr api = DispatchBridge::apiOf(object))
            return variant(api);
        return variant(JSObjectPtr(std::make_shared<DispatchObject>(object)));
    }
    }
    return variant();
}

VariantList toVariantList(const std::vector<ComVariant>& values)
{
    VariantList list;
    list.reserve(values.size());
    for (const ComVariant& value : values)
        list.push_back(toVariant(value));
    return list;
}

ComVariant toComVariant(const variant& value)
{
    if (value.empty())
        return ComVariant();
    if (value.is_null())
        return ComVariant::null();
    if (const bool* flag = value.get_ptr<bool>())
        return ComVariant(*flag);
    if (holdsSigned(value))
        return wholeNumber(static_cast<long double>(value.convert_cast<long long>()));
    if (holdsUnsigned(value))
        return wholeNumber(static_cast<long double>(value.convert_cast<unsigned long long>()));
    if (value.is_of_type<float>() || value.is_of_type<double>())
        return ComVariant(value.convert_cast<double>());
    if (const std::string* text = value.get_ptr<std::string>())
        return ComVariant(*text);
    if (value.is_of_type<std::wstring>())
        return ComVariant(value.convert_cast<std::string>());
    if (value.is_of_type<JSAPIPtr>())
        return bridgeValue(value.convert_cast<JSAPIPtr>());
    if (value.is_of_type<JSObjectPtr>())
    {
        if (auto object = std::dynamic_pointer_cast<DispatchObject>(value.convert_cast<JSObjectPtr>()))
            return ComVariant(object->dispatch());
        return ComVariant();
    }
    if (const VariantList* items = value.get_ptr<VariantList>())
        return bridgeValue(std::make_shared<ListObject>(*items));
    return ComVariant();
}

} // namespace FB::Com
