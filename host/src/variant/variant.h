#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <variant>
#include <vector>

#include "variant/bad_variant_cast.h"

namespace FB {

class JSAPI;
class JSObject;
class variant;

using JSAPIPtr = std::shared_ptr<JSAPI>;
using JSObjectPtr = std::shared_ptr<JSObject>;
using VariantList = std::vector<variant>;

// Marks a variant that holds nothing (an absent argument, a function returning nothing).
struct FBVoid
{};

// Marks a variant that holds the script value null.
struct FBNull
{};

// The one value type that crosses the script boundary: empty, null, bool, whole and floating numbers, narrow
// (UTF-8) and wide strings, scriptable objects, page objects and lists. Whole numbers keep their C++ type.
//
// Conversions (convert_cast):
// - bool: a bool gives itself; strings are lower-cased and give true exactly for "y", "1", "yes", "true", "t";
//   numbers give true when not zero; anything else throws.
// - numbers: from any number or bool (1/0); a floating value given to a whole type is truncated toward zero;
//   a value that does not fit the target throws. From a string when the whole text (surrounding blanks
//   allowed, optional sign) is a decimal integer for whole targets, or a floating text for floating targets.
// - std::string / std::wstring: strings (converted between UTF-8 and wide), bool "true"/"false", numbers as a
//   default-formatted stream writes them (char types as numbers); anything else throws.
// - JSAPIPtr / JSObjectPtr: from that kind only; empty and null give a null pointer.
// - VariantList: from a list only. Any stored type: from itself. variant: itself.
// Failures throw FB::bad_variant_cast naming the held and the requested type.
class variant
{
public:
    variant() = default;
    variant(FBVoid) {}
    variant(FBNull) : _value(FBNull()) {}
    variant(std::nullptr_t) : _value(FBNull()) {}
    variant(bool value) : _value(value) {}

    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    variant(T value)
    {
        if constexpr (isStored<T>())
            _value = value;
        else if constexpr (std::is_signed_v<T>)
            _value = static_cast<long long>(value); // wchar_t and friends are kept as plain numbers
        else
            _value = static_cast<unsigned long long>(value);
    }

    variant(float value) : _value(value) {}
    variant(double value) : _value(value) {}
    variant(long double value) : _value(static_cast<double>(value)) {}

    // A null character pointer gives null rather than undefined behaviour.
    variant(const char* text);
    variant(const wchar_t* text);
    variant(std::string text) : _value(std::move(text)) {}
    variant(std::wstring text) : _value(std::move(text)) {}

    // Other pointers would silently become bool; refuse them at compile time.
    template <class T,
              std::enable_if_t<
                  !std::is_same_v<std::remove_cv_t<T>, char> && !std::is_same_v<std::remove_cv_t<T>, wchar_t>, int> = 0>
    variant(T*) = delete;

    // A null object pointer is stored as null.
    variant(JSAPIPtr object);
    variant(JSObjectPtr object);

    template <class T, std::enable_if_t<
                           std::is_convertible_v<std::shared_ptr<T>, JSAPIPtr> && !std::is_same_v<T, JSAPI>, int> = 0>
    variant(const std::shared_ptr<T>& object) : variant(JSAPIPtr(object))
    {}

    template <class T,
              std::enable_if_t<std::is_convertible_v<std::shared_ptr<T>, JSObjectPtr> && !std::is_same_v<T, JSObject>,
                               int> = 0>
    variant(const std::shared_ptr<T>& object) : variant(JSObjectPtr(object))
    {}

    variant(VariantList list) : _value(std::move(list)) {}

    // True when nothing is held.
    bool empty() const { return std::holds_alternative<FBVoid>(_value); }

    // True when the script value null is held.
    bool is_null() const { return std::holds_alternative<FBNull>(_value); }

    // True when exactly a T is held (no conversion is considered).
    template <class T>
    bool is_of_type() const
    {
        if constexpr (isStored<T>())
            return std::holds_alternative<T>(_value);
        else
            return false;
    }

    // The held T itself when exactly a T is held, else null: large texts are read without a copy.
    template <class T>
    const T* get_ptr() const
    {
        if constexpr (isStored<T>())
            return std::get_if<T>(&_value);
        else
            return nullptr;
    }

    // The C++ type of the held value.
    const std::type_info& get_type() const;

    // A readable name of the held type for messages ("int", "std::string", "FB::JSObjectPtr").
    std::string get_type_name() const;

    // A readable name of a type a variant can hold or be converted to.
    template <class T>
    static const char* type_name();

    // The held value as a T by the conversions above; throws FB::bad_variant_cast when it cannot.
    template <class T>
    T convert_cast() const;

private:
    using Storage = std::variant<FBVoid, FBNull, bool, char, signed char, unsigned char, short, unsigned short, int,
                                 unsigned int, long, unsigned long, long long, unsigned long long, float, double,
                                 std::string, std::wstring, JSAPIPtr, JSObjectPtr, VariantList>;

    template <class T, std::size_t I = 0>
    static constexpr bool isStored()
    {
        if constexpr (I == std::variant_size_v<Storage>)
            return false;
        else
            return std::is_same_v<T, std::variant_alternative_t<I, Storage>> || isStored<T, I + 1>();
    }

    template <class T, std::size_t I = 0>
    static constexpr std::size_t indexOf()
    {
        if constexpr (std::is_same_v<T, std::variant_alternative_t<I, Storage>>)
            return I;
        else
            return indexOf<T, I + 1>();
    }

    // The readable name of the alternative at `index` of Storage.
    static const char* storedTypeName(std::size_t index);

    template <class T>
    static constexpr bool isNumber()
    {
        return std::is_arithmetic_v<T> && !std::is_same_v<T, bool> && (isStored<T>() || std::is_same_v<T, long double>);
    }

    bool toBool() const;
    template <class T>
    T toNumber() const; // defined in variant.cpp for every number type
    std::string toString() const;
    std::wstring toWString() const;
    JSAPIPtr toJSAPI() const;
    JSObjectPtr toJSObject() const;
    VariantList toList() const;
    [[noreturn]] void fail(const char* target) const;

    Storage _value;
};

template <class T>
const char* variant::type_name()
{
    using U = std::decay_t<T>;
    if constexpr (isStored<U>())
        return storedTypeName(indexOf<U>());
    else if constexpr (std::is_same_v<U, long double>)
        return "long double";
    else if constexpr (std::is_same_v<U, variant>)
        return "FB::variant";
    else
        return typeid(U).name();
}

template <class T>
T variant::convert_cast() const
{
    if constexpr (std::is_same_v<T, variant>)
        return *this;
    else if constexpr (std::is_same_v<T, bool>)
        return toBool();
    else if constexpr (isNumber<T>())
        return toNumber<T>();
    else if constexpr (std::is_same_v<T, std::string>)
        return toString();
    else if constexpr (std::is_same_v<T, std::wstring>)
        return toWString();
    else if constexpr (std::is_same_v<T, JSAPIPtr>)
        return toJSAPI();
    else if constexpr (std::is_same_v<T, JSObjectPtr>)
        return toJSObject();
    else if constexpr (std::is_same_v<T, VariantList>)
        return toList();
    else
    {
        static_assert(isStored<T>(), "FB::variant cannot be converted to this type");
        if (const T* held = std::get_if<T>(&_value))
            return *held;
        fail(type_name<T>());
    }
}

} // namespace FB
