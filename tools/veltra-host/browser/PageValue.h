#pragma once

#include <npruntime.h>

#include <cstdint>
#include <string>
#include <variant>

namespace veltra::host {

/// A page object as the page side names it.
using PageHandle = std::int64_t;

/// A value crossing between the plug-in and the page. Object handles in values the page hands back
/// (results, property values) carry one reference, which the host gives back with
/// PageScript::release(); handles and plug-in objects in arguments are only borrowed for the call.
class PageValue
{
public:
    enum class Type
    {
        Void,
        Null,
        Boolean, // not "Bool": Xlib defines that name as a macro
        Int,
        Double,
        String,
        PageObject,
        PluginObject
    };

    PageValue() = default;
    static PageValue null();
    static PageValue boolean(bool value);
    static PageValue integer(std::int32_t value);
    static PageValue number(double value);
    static PageValue string(std::string value);
    static PageValue pageObject(PageHandle handle);
    /// An object of the plug-in's own, passed to the page.
    static PageValue pluginObject(NPObject* object);

    Type type() const { return static_cast<Type>(_value.index()); }
    bool isVoid() const { return type() == Type::Void; }

    /// The accessors answer the default (false, 0, "", null) for a value of another type.
    bool asBool() const;
    std::int32_t asInt() const;
    /// Ints read as doubles too, as script numbers do.
    double asDouble() const;
    const std::string& asString() const;
    PageHandle asPageObject() const;
    NPObject* asPluginObject() const;

    bool operator==(const PageValue& other) const { return _value == other._value; }
    bool operator!=(const PageValue& other) const { return !(*this == other); }

private:
    struct NullTag
    {
        bool operator==(const NullTag&) const { return true; }
    };
    struct Handle
    {
        PageHandle id;
        bool operator==(const Handle& other) const { return id == other.id; }
    };

    // Alternatives in the order of Type.
    std::variant<std::monostate, NullTag, bool, std::int32_t, double, std::string, Handle, NPObject*> _value;
};

} // namespace veltra::host
