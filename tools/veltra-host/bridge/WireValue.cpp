#include "bridge/WireValue.h"

#include <cmath>
#include <limits>
#include <string>

namespace veltra::host {

namespace {

const char* const Tag = "$";

Json::Value tagged(const char* kind)
{
    Json::Value value(Json::objectValue);
    value[Tag] = kind;
    return value;
}

PageValue decodeNumber(double number)
{
    if (std::isfinite(number) && std::trunc(number) == number && number >= std::numeric_limits<std::int32_t>::min() &&
        number <= std::numeric_limits<std::int32_t>::max())
        return PageValue::integer(static_cast<std::int32_t>(number));
    return PageValue::number(number);
}

std::int64_t wholeNumber(const Json::Value& object, const char* name)
{
    const Json::Value& field = object[name];
    if (!field.isIntegral())
        throw WireError(std::string("a tagged value lacks its whole number \"") + name + "\"");
    return field.asInt64();
}

} // namespace

Json::Value encodeValue(const PageValue& value, const PluginObjectIds& ids)
{
    switch (value.type())
    {
    case PageValue::Type::Void:
        return tagged("void");
    case PageValue::Type::Null:
        return Json::Value(Json::nullValue);
    case PageValue::Type::Boolean:
        return Json::Value(value.asBool());
    case PageValue::Type::Int:
        return Json::Value(value.asInt());
    case PageValue::Type::Double: {
        // JSON has no NaN or infinities; the page reads these as null, as JSON.stringify writes them.
        const double number = value.asDouble();
        return std::isfinite(number) ? Json::Value(number) : Json::Value(Json::nullValue);
    }
    case PageValue::Type::String:
        return Json::Value(value.asString());
    case PageValue::Type::PageObject: {
        Json::Value wire = tagged("page");
        wire["handle"] = Json::Int64(value.asPageObject());
        return wire;
    }
    case PageValue::Type::PluginObject: {
        const std::int64_t id = ids.add ? ids.add(value.asPluginObject()) : 0;
        if (!id)
            return Json::Value(Json::nullValue);
        Json::Value wire = tagged("plugin");
        wire["id"] = Json::Int64(id);
        return wire;
    }
    }
    return tagged("void");
}

PageValue decodeValue(const Json::Value& wire, const PluginObjectIds& ids)
{
    switch (wire.type())
    {
    case Json::nullValue:
        return PageValue::null();
    case Json::booleanValue:
        return PageValue::boolean(wire.asBool());
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
        return decodeNumber(wire.asDouble());
    case Json::stringValue:
        return PageValue::string(wire.asString());
    case Json::arrayValue:
        throw WireError("arrays travel as page objects, not as values");
    case Json::objectValue:
        break;
    }
    const std::string kind = wire[Tag].isString() ? wire[Tag].asString() : std::string();
    if (kind == "void")
        return PageValue();
    if (kind == "page")
        return PageValue::pageObject(wholeNumber(wire, "handle"));
    if (kind == "plugin")
    {
        const std::int64_t id = wholeNumber(wire, "id");
        NPObject* object = ids.find ? ids.find(id) : nullptr;
        if (!object)
            throw WireError("unknown plug-in object " + std::to_string(id));
        return PageValue::pluginObject(object);
    }
    throw WireError("an object value without a known \"$\" tag");
}

} // namespace veltra::host
