#include "scripting/JSAPIAuto.h"

#include "variant/ScriptErrors.h"

#include <algorithm>
#include <utility>

namespace FB {

JSAPIAuto::JSAPIAuto(const std::string& description) : _description(description)
{
    // Browsers probe these on every embedded object; answering yes would make them look like page attributes.
    _reservedNames = {"offsetWidth", "offsetHeight", "width",       "height",          "attributes",
                      "nodeType",    "namespaceURI", "localName",   "wrappedJSObject", "prototype",
                      "style",       "id",           "constructor", "nodeName",        "hasAttribute"};

    addMethod("toString", make_method(this, &JSAPIAuto::toString));
    addMethod("getAttribute", make_method(this, &JSAPIAuto::getAttribute));
    addMethod("setAttribute", make_method(this, &JSAPIAuto::setAttribute));
    addProperty("value", make_getter(this, &JSAPIAuto::toString));
    addProperty("valid", make_getter(this, &JSAPIAuto::isValid));
}

JSAPIAuto::~JSAPIAuto() = default;

void JSAPIAuto::addMethod(const std::string& name, CallMethodFunctor method)
{
    _methods[name] = std::move(method);
}

void JSAPIAuto::addProperty(const std::string& name, GetPropFunctor getter, SetPropFunctor setter)
{
    _properties[name] = Property{std::move(getter), std::move(setter)};
}

void JSAPIAuto::checkValid() const
{
    if (!isValid())
        throw object_invalidated();
}

bool JSAPIAuto::hasMethod(const std::string& name) const
{
    checkValid();
    return _methods.count(name) != 0;
}

bool JSAPIAuto::hasProperty(const std::string& name) const
{
    checkValid();
    if (_allowPageAttributes && _methods.count(name) == 0 && !isReserved(name))
        return true;
    return _properties.count(name) != 0 || _attributes.count(name) != 0;
}

variant JSAPIAuto::getProperty(const std::string& name)
{
    checkValid();
    auto property = _properties.find(name);
    if (property != _properties.end())
        return property->second.get();
    auto attribute = _attributes.find(name);
    if (attribute != _attributes.end())
        return attribute->second.value;
    // A name the page may still define reads as undefined, as it would on a plain script object.
    if (_allowPageAttributes && _methods.count(name) == 0 && !isReserved(name))
        return variant();
    throw invalid_member(name);
}

void JSAPIAuto::setProperty(const std::string& name, const variant& value)
{
    checkValid();
    auto property = _properties.find(name);
    if (property != _properties.end())
    {
        if (!property->second.set)
            throw script_error("Cannot set read-only property " + name);
        try
        {
            property->second.set(value);
        }
        catch (const bad_variant_cast& error)
        {
            throw invalid_arguments("Could not convert from " + error.from() + " to " + error.to());
        }
        return;
    }

    auto attribute = _attributes.find(name);
    // An existing read-only attribute reports itself as such rather than as a missing member.
    if (attribute == _attributes.end() && !_allowPageAttributes)
        throw invalid_member(name);
    setAttribute(name, value);
}

void JSAPIAuto::removeProperty(const std::string& name)
{
    checkValid();
    if (_properties.count(name) != 0)
        throw script_error("Cannot remove read-only property " + name);
    removeAttribute(name);
}

variant JSAPIAuto::invoke(const std::string& name, const VariantList& args)
{
    checkValid();
    auto method = _methods.find(name);
    if (method == _methods.end())
        throw invalid_member(name);
    return method->second(args);
}

std::vector<std::string> JSAPIAuto::getMemberNames() const
{
    checkValid();
    std::vector<std::string> names;
    for (const auto& entry : _methods)
        names.push_back(entry.first);
    for (const auto& entry : _properties)
        names.push_back(entry.first);
    for (const auto& entry : _attributes)
        names.push_back(entry.first);
    // A name may be a method and an attribute at once; list it once.
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

void JSAPIAuto::registerAttribute(const std::string& name, const variant& value, bool readOnly)
{
    _attributes[name] = Attribute{value, readOnly};
}

variant JSAPIAuto::getAttribute(const std::string& name) const
{
    auto attribute = _attributes.find(name);
    return attribute == _attributes.end() ? variant() : attribute->second.value;
}

void JSAPIAuto::setAttribute(const std::string& name, const variant& value)
{
    auto attribute = _attributes.find(name);
    if (attribute == _attributes.end())
        _attributes.emplace(name, Attribute{value, false});
    else if (attribute->second.readOnly)
        throw script_error("Cannot set read-only property " + name);
    else
        attribute->second.value = value;
}

void JSAPIAuto::removeAttribute(const std::string& name)
{
    auto attribute = _attributes.find(name);
    if (attribute == _attributes.end())
        return;
    if (attribute->second.readOnly)
        throw script_error("Cannot remove read-only property " + name);
    _attributes.erase(attribute);
}

} // namespace FB
