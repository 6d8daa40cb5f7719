#pragma once

#include "variant/ScriptErrors.h"
#include "variant/variant.h"

#include <cstddef>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace FB {

/// A method as the page calls it: the argument list in, one value out.
using CallMethodFunctor = std::function<variant(const VariantList&)>;
/// Reads a property.
using GetPropFunctor = std::function<variant()>;
/// Writes a property; a value it cannot take raises FB::bad_variant_cast.
using SetPropFunctor = std::function<void(const variant&)>;

namespace detail {

// Argument `index` (from 0) of `args` as parameter type T. A variant parameter takes anything and is
// optional; every other parameter must be present and convertible.
template <class T>
std::decay_t<T> convertArgument(const VariantList& args, std::size_t index)
{
    using P = std::decay_t<T>;
    if constexpr (std::is_same_v<P, variant>)
        return index < args.size() ? args[index] : variant();
    else
    {
        if (index >= args.size())
            throw invalid_arguments("Error: Argument " + std::to_string(index + 1) + " is not optional.");
        try
        {
            return args[index].convert_cast<P>();
        }
        catch (const bad_variant_cast& error)
        {
            throw invalid_arguments("Invalid argument conversion from " + error.from() + " to " + error.to() +
                                    " at index " + std::to_string(index + 1));
        }
    }
}

template <class R, class... Args, class F, std::size_t... I>
variant callConverted(const F& call, const VariantList& args, std::index_sequence<I...>)
{
    if (args.size() > sizeof...(Args))
        throw invalid_arguments("Too many arguments, expected " + std::to_string(sizeof...(Args)) + ".");
    // A braced list converts left to right, so the first bad argument is the one reported.
    std::tuple<std::decay_t<Args>...> converted{convertArgument<Args>(args, I)...};
    if constexpr (std::is_void_v<R>)
    {
        std::apply(call, std::move(converted));
        return variant();
    }
    else
        return variant(std::apply(call, std::move(converted)));
}

} // namespace detail

/// Wraps a member function of a scriptable object as a page method: checks the argument count,
/// converts each argument to its declared parameter type and wraps the result. `instance` must
/// outlive the wrapper (it is normally the object that registers the method on itself).
template <class Obj, class C, class R, class... Args>
CallMethodFunctor make_method(Obj* instance, R (C::*method)(Args...))
{
    C* target = instance; // the method may be declared in a base of Obj
    return [target, method](const VariantList& args) {
        auto call = [target, method](auto&&... values) -> R {
            return (target->*method)(std::forward<decltype(values)>(values)...);
        };
        return detail::callConverted<R, Args...>(call, args, std::index_sequence_for<Args...>());
    };
}

/// As above, for const member functions.
template <class Obj, class C, class R, class... Args>
CallMethodFunctor make_method(const Obj* instance, R (C::*method)(Args...) const)
{
    const C* target = instance;
    return [target, method](const VariantList& args) {
        auto call = [target, method](auto&&... values) -> R {
            return (target->*method)(std::forward<decltype(values)>(values)...);
        };
        return detail::callConverted<R, Args...>(call, args, std::index_sequence_for<Args...>());
    };
}

/// Wraps a const member function returning the property value as a property getter.
template <class Obj, class C, class R>
GetPropFunctor make_getter(const Obj* instance, R (C::*getter)() const)
{
    const C* target = instance;
    return [target, getter]() { return variant((target->*getter)()); };
}

/// Wraps a member function taking the new value as a property setter; the value is converted to the
/// parameter type, and a failed conversion raises FB::bad_variant_cast.
template <class Obj, class C, class T>
SetPropFunctor make_setter(Obj* instance, void (C::*setter)(T))
{
    C* target = instance;
    return [target, setter](const variant& value) { (target->*setter)(value.convert_cast<std::decay_t<T>>()); };
}

} // namespace FB
