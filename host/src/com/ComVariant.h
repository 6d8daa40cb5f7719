#pragma once

#include "com/ComDispatchTypes.h"

#include <cstdint>
#include <string>
#include <variant>

namespace FB::Com {

/// The value that crosses a dispatch call: empty, null, a boolean, a 32-bit integer, a double, a UTF-8
/// string or a dispatch object (one reference held while the value lives; a null object reads as null).
class ComVariant
{
public:
    enum class Type
    {
        Empty,
        Null,
        Bool,
        Int32,
        Double,
        String,
        Dispatch
    };

    ComVariant() = default;
    static ComVariant null();
    ComVariant(bool value) : _value(value) {}
    ComVariant(std::int32_t value) : _value(value) {}
    ComVariant(double value) : _value(value) {}
    ComVariant(std::string value) : _value(std::move(value)) {}
    ComVariant(const char* value) : _value(std::string(value ? value : "")) {}
    /// Adds a reference to `object`; a null object gives a null value.
    ComVariant(IDispatch* object);

    Type type() const;
    bool isEmpty() const { return type() == Type::Empty; }
    bool isNull() const { return type() == Type::Null; }

    /// The held value of exactly that type; null when another type is held.
    const bool* boolValue() const { return std::get_if<bool>(&_value); }
    const std::int32_t* int32Value() const { return std::get_if<std::int32_t>(&_value); }
    const double* doubleValue() const { return std::get_if<double>(&_value); }
    const std::string* stringValue() const { return std::get_if<std::string>(&_value); }
    /// The held object, without a reference added; null for every other type.
    IDispatch* dispatchValue() const;

private:
    struct NullValue
    {};

    std::variant<std::monostate, NullValue, bool, std::int32_t, double, std::string, DispatchRef> _value;
};

} // namespace FB::Com
