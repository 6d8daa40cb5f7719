#include "variant/variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <locale>
#include <sstream>

#include "variant/utf8_tools.h"

namespace FB {

namespace {

template <class T>
constexpr bool isStoredNumber = std::is_arithmetic_v<T> && !std::is_same_v<T, bool>;

// Converts between number types, refusing values the target cannot hold instead of wrapping.
template <class To, class From>
bool numberFits(From value)
{
    if constexpr (std::is_floating_point_v<To>)
    {
        if constexpr (std::is_same_v<To, float> && std::is_floating_point_v<From> && sizeof(From) > sizeof(float))
            return !std::isfinite(value) || std::fabs(value) <= std::numeric_limits<float>::max();
        else
            return true;
    }
    else if constexpr (std::is_floating_point_v<From>)
    {
        if (!std::isfinite(value))
            return false;
        // Truncation toward zero is accepted; the bounds are powers of two and so exact as doubles.
        const long double whole = std::trunc(static_cast<long double>(value));
        const long double upper = std::ldexp(1.0L, std::numeric_limits<To>::digits);
        const long double lower = std::is_signed_v<To> ? -upper : 0.0L;
        return whole >= lower && whole < upper;
    }
    else if constexpr (std::is_signed_v<From>)
    {
        if (value < 0)
            return std::is_signed_v<To> &&
                   static_cast<long long>(value) >= static_cast<long long>(std::numeric_limits<To>::min());
        return static_cast<unsigned long long>(value) <=
               static_cast<unsigned long long>(std::numeric_limits<To>::max());
    }
    else
    {
        return static_cast<unsigned long long>(value) <=
               static_cast<unsigned long long>(std::numeric_limits<To>::max());
    }
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Parses the whole text as a number of type T; false when any of it is not part of the number or it overflows.
template <class T>
bool parseNumber(const std::string& text, T& out)
{
    const char* first = text.data();
    const char* last = first + text.size();
    while (first != last && isBlank(*first))
        ++first;
    while (last != first && isBlank(*(last - 1)))
        --last;
    // from_chars accepts a leading minus only; a plus is common in hand-written text.
    if (last - first > 1 && *first == '+' && first[1] != '-')
        ++first;
    if (first == last)
        return false;
    std::from_chars_result result;
    if constexpr (std::is_floating_point_v<T>)
        result = std::from_chars(first, last, out, std::chars_format::general);
    else
        result = std::from_chars(first, last, out, 10);
    return result.ec == std::errc() && result.ptr == last;
}

template <class T>
std::string formatNumber(T value)
{
    std::ostringstream stream;
    // The page must not see a user locale's grouping or decimal comma.
    stream.imbue(std::locale::classic());
    if constexpr (std::is_floating_point_v<T>)
        stream << value;
    else
        stream << +value; // char types are numbers here, not characters
    return stream.str();
}

std::string lowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool textIsTrue(const std::string& text)
{
    const std::string lower = lowerAscii(text);
    return lower == "y" || lower == "1" || lower == "yes" || lower == "true" || lower == "t";
}

} // namespace

variant::variant(const char* text)
{
    if (text)
        _value = std::string(text);
    else
        _value = FBNull();
}

variant::variant(const wchar_t* text)
{
    if (text)
        _value = std::wstring(text);
    else
        _value = FBNull();
}

variant::variant(JSAPIPtr object)
{
    if (object)
        _value = std::move(object);
    else
        _value = FBNull();
}

variant::variant(JSObjectPtr object)
{
    if (object)
        _value = std::move(object);
    else
        _value = FBNull();
}

const char* variant::storedTypeName(std::size_t index)
{
    // In the order of Storage's alternatives.
    static const char* const names[] = {"FB::FBVoid",
                                        "FB::FBNull",
                                        "bool",
                                        "char",
                                        "signed char",
                                        "unsigned char",
                                        "short",
                                        "unsigned short",
                                        "int",
                                        "unsigned int",
                                        "long",
                                        "unsigned long",
                                        "long long",
                                        "unsigned long long",
                                        "float",
                                        "double",
                                        "std::string",
                                        "std::wstring",
                                        "FB::JSAPIPtr",
                                        "FB::JSObjectPtr",
                                        "FB::VariantList"};
    static_assert(std::size(names) == std::variant_size_v<Storage>, "one name per stored type");
    return names[index];
}

const std::type_info& variant::get_type() const
{
    return std::visit([](const auto& held) -> const std::type_info& { return typeid(held); }, _value);
}

std::string variant::get_type_name() const
{
    return std::visit([](const auto& held) -> std::string { return type_name<decltype(held)>(); }, _value);
}

void variant::fail(const char* target) const
{
    throw bad_variant_cast(get_type_name(), target);
}

bool variant::toBool() const
{
    if (const bool* held = std::get_if<bool>(&_value))
        return *held;
    if (const std::string* text = std::get_if<std::string>(&_value))
        return textIsTrue(*text);
    if (const std::wstring* text = std::get_if<std::wstring>(&_value))
        return textIsTrue(wstring_to_utf8(*text));
    return std::visit(
        [this](const auto& held) -> bool {
            using H = std::decay_t<decltype(held)>;
            if constexpr (isStoredNumber<H>)
                return held != 0;
            else
                fail(type_name<bool>());
        },
        _value);
}

template <class T>
T variant::toNumber() const
{
    return std::visit(
        [this](const auto& held) -> T {
            using H = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<H, bool>)
                return static_cast<T>(held ? 1 : 0);
            else if constexpr (isStoredNumber<H>)
            {
                if (!numberFits<T>(held))
                    throw bad_variant_cast(type_name<H>(), type_name<T>(),
                                           "value " + formatNumber(held) + " is out of range");
                return static_cast<T>(held);
            }
            else if constexpr (std::is_same_v<H, std::string> || std::is_same_v<H, std::wstring>)
            {
                std::string text;
                if constexpr (std::is_same_v<H, std::wstring>)
                    text = wstring_to_utf8(held);
                else
                    text = held;
                // char types parse through int so that "65" gives 65, not a failure on the second digit.
                using Parsed = std::conditional_t<(sizeof(T) < sizeof(int)) && std::is_integral_v<T>, long long, T>;
                Parsed parsed{};
                if (!parseNumber(text, parsed) || !numberFits<T>(parsed))
                    throw bad_variant_cast(type_name<H>(), type_name<T>(), "text \"" + text + "\" is not a number");
                return static_cast<T>(parsed);
            }
            else
                fail(type_name<T>());
        },
        _value);
}

std::string variant::toString() const
{
    return std::visit(
        [this](const auto& held) -> std::string {
            using H = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<H, std::string>)
                return held;
            else if constexpr (std::is_same_v<H, std::wstring>)
                return wstring_to_utf8(held);
            else if constexpr (std::is_same_v<H, bool>)
                return held ? "true" : "false";
            else if constexpr (isStoredNumber<H>)
                return formatNumber(held);
            else
                fail(type_name<std::string>());
        },
        _value);
}

std::wstring variant::toWString() const
{
    if (const std::wstring* held = std::get_if<std::wstring>(&_value))
        return *held;
    try
    {
        return utf8_to_wstring(toString());
    }
    catch (const bad_variant_cast& error)
    {
        throw bad_variant_cast(error.from(), type_name<std::wstring>());
    }
}

JSAPIPtr variant::toJSAPI() const
{
    if (empty() || is_null())
        return JSAPIPtr();
    if (const JSAPIPtr* held = std::get_if<JSAPIPtr>(&_value))
        return *held;
    fail(type_name<JSAPIPtr>());
}

JSObjectPtr variant::toJSObject() const
{
    if (empty() || is_null())
        return JSObjectPtr();
    if (const JSObjectPtr* held = std::get_if<JSObjectPtr>(&_value))
        return *held;
    fail(type_name<JSObjectPtr>());
}

VariantList variant::toList() const
{
    if (const VariantList* held = std::get_if<VariantList>(&_value))
        return *held;
    fail(type_name<VariantList>());
}

template char variant::toNumber<char>() const;
template signed char variant::toNumber<signed char>() const;
template unsigned char variant::toNumber<unsigned char>() const;
template short variant::toNumber<short>() const;
template unsigned short variant::toNumber<unsigned short>() const;
template int variant::toNumber<int>() const;
template unsigned int variant::toNumber<unsigned int>() const;
template long variant::toNumber<long>() const;
template unsigned long variant::toNumber<unsigned long>() const;
template long long variant::toNumber<long long>() const;
template unsigned long long variant::toNumber<unsigned long long>() const;
template float variant::toNumber<float>() const;
template double variant::toNumber<double>() const;
template long double variant::toNumber<long double>() const;

} // namespace FB
