#pragma once

#include "scripting/JSAPI.h"
#include "scripting/MethodWrapper.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace FB {

/// The table-driven scriptable object that the plug-in's scripting objects derive from: they register
/// methods and properties by name, and the page reaches them through the JSAPI entry points.
///
/// Every object has the methods "toString", "getAttribute", "setAttribute" and the read-only
/// properties "value" (the description text) and "valid". Writing a property registered without a
/// setter fails with FB::script_error "Cannot set read-only property <name>" and leaves it unchanged.
///
/// Threads: the tables are used on the browser thread only; events (JSAPI) may be raised from any thread.
class JSAPIAuto : public JSAPI
{
public:
    /// `description` is what "toString" and "value" answer.
    explicit JSAPIAuto(const std::string& description = "<JSAPI-Auto Javascript Object>");
    ~JSAPIAuto() override;

    JSAPIAuto(const JSAPIAuto&) = delete;
    JSAPIAuto& operator=(const JSAPIAuto&) = delete;

    /// Adds or replaces the method `name`; see make_method for wrapping a member function.
    void addMethod(const std::string& name, CallMethodFunctor method);
    /// Adds or replaces the property `name`; without a setter it is read-only.
    void addProperty(const std::string& name, GetPropFunctor getter, SetPropFunctor setter = SetPropFunctor());

    bool hasMethod(const std::string& name) const override;
    /// With page-defined attributes allowed: yes for every name that is neither a method nor reserved;
    /// otherwise yes for registered properties and existing attributes.
    bool hasProperty(const std::string& name) const override;
    variant getProperty(const std::string& name) override;
    void setProperty(const std::string& name, const variant& value) override;
    /// Removes an attribute; registered properties cannot be removed.
    void removeProperty(const std::string& name) override;
    variant invoke(const std::string& name, const VariantList& args) override;
    std::vector<std::string> getMemberNames() const override;

    /// Stores an attribute, replacing any of that name, read-only or not.
    void registerAttribute(const std::string& name, const variant& value, bool readOnly = false);
    /// The attribute's value; empty when there is none.
    variant getAttribute(const std::string& name) const;
    /// Sets (or creates) a writable attribute; fails on a read-only one.
    void setAttribute(const std::string& name, const variant& value);
    /// Removes an attribute; fails on a read-only one.
    void removeAttribute(const std::string& name);

    /// Whether the page may create attributes by writing unknown property names (default true).
    void setAllowPageAttributes(bool allow) { _allowPageAttributes = allow; }
    bool allowPageAttributes() const { return _allowPageAttributes; }

    /// The names the browser probes on any embedded object ("width", "style", ...).
    bool isReserved(const std::string& name) const { return _reservedNames.count(name) != 0; }

    /// The description text.
    std::string toString() const { return _description; }

private:
    struct Property
    {
        GetPropFunctor get;
        SetPropFunctor set;
    };

    struct Attribute
    {
        variant value;
        bool readOnly;
    };

    void checkValid() const;

    std::map<std::string, CallMethodFunctor> _methods;
    std::map<std::string, Property> _properties;
    std::map<std::string, Attribute> _attributes;
    std::set<std::string> _reservedNames;
    bool _allowPageAttributes = true;
    std::string _description;
};

} // namespace FB
