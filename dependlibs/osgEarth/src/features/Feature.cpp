#include <osgEarthFeatures/Feature>

#include <osgEarth/StringUtils>

#include <cmath>
#include <limits>

namespace osgEarth::Features {

namespace {

bool fitsInt(double value)
{
    // Casting a double outside int's range is undefined, so range-check before truncating.
    return std::isfinite(value) && value >= double(std::numeric_limits<int>::min()) &&
           value <= double(std::numeric_limits<int>::max());
}

} // namespace

std::string AttributeValue::getString() const
{
    switch (type)
    {
    case ATTRTYPE_STRING: return stringValue;
    case ATTRTYPE_INT: return std::to_string(intValue);
    case ATTRTYPE_DOUBLE: return toString(doubleValue);
    case ATTRTYPE_BOOL: return boolValue ? "true" : "false";
    default: return std::string();
    }
}

double AttributeValue::getDouble(double fallback) const
{
    switch (type)
    {
    case ATTRTYPE_STRING: return as<double>(stringValue, fallback);
    case ATTRTYPE_INT: return intValue;
    case ATTRTYPE_DOUBLE: return doubleValue;
    case ATTRTYPE_BOOL: return boolValue ? 1.0 : 0.0;
    default: return fallback;
    }
}

int AttributeValue::getInt(int fallback) const
{
    switch (type)
    {
    case ATTRTYPE_STRING:
    {
        const double parsed = as<double>(stringValue, std::nan(""));
        return fitsInt(parsed) ? int(parsed) : fallback;
    }
    case ATTRTYPE_INT: return intValue;
    case ATTRTYPE_DOUBLE: return fitsInt(doubleValue) ? int(doubleValue) : fallback;
    case ATTRTYPE_BOOL: return boolValue ? 1 : 0;
    default: return fallback;
    }
}

bool AttributeValue::getBool(bool fallback) const
{
    switch (type)
    {
    case ATTRTYPE_STRING:
        if (trim(stringValue) == "1")
        {
            return true;
        }
        if (trim(stringValue) == "0")
        {
            return false;
        }
        return as<bool>(stringValue, fallback);
    case ATTRTYPE_INT: return intValue != 0;
    case ATTRTYPE_DOUBLE: return doubleValue != 0.0;
    case ATTRTYPE_BOOL: return boolValue;
    default: return fallback;
    }
}

void Feature::set(const std::string& name, const std::string& value)
{
    AttributeValue& attr = _attrs[name] = AttributeValue();
    attr.type = ATTRTYPE_STRING;
    attr.stringValue = value;
}

void Feature::set(const std::string& name, double value)
{
    AttributeValue& attr = _attrs[name] = AttributeValue();
    attr.type = ATTRTYPE_DOUBLE;
    attr.doubleValue = value;
}

void Feature::set(const std::string& name, int value)
{
    AttributeValue& attr = _attrs[name] = AttributeValue();
    attr.type = ATTRTYPE_INT;
    attr.intValue = value;
}

void Feature::set(const std::string& name, bool value)
{
    AttributeValue& attr = _attrs[name] = AttributeValue();
    attr.type = ATTRTYPE_BOOL;
    attr.boolValue = value;
}

std::string Feature::getString(const std::string& name) const
{
    auto it = _attrs.find(name);
    return it == _attrs.end() ? std::string() : it->second.getString();
}

double Feature::getDouble(const std::string& name, double fallback) const
{
    auto it = _attrs.find(name);
    return it == _attrs.end() ? fallback : it->second.getDouble(fallback);
}

int Feature::getInt(const std::string& name, int fallback) const
{
    auto it = _attrs.find(name);
    return it == _attrs.end() ? fallback : it->second.getInt(fallback);
}

bool Feature::getBool(const std::string& name, bool fallback) const
{
    auto it = _attrs.find(name);
    return it == _attrs.end() ? fallback : it->second.getBool(fallback);
}

} // namespace osgEarth::Features
