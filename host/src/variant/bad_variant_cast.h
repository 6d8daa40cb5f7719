#pragma once

#include <string>
#include <typeinfo>

namespace FB {

// Raised when a variant cannot give the requested type; names both types for script error messages.
class bad_variant_cast : public std::bad_cast
{
public:
    // `from` and `to` are readable type names ("double", "std::string"); `detail` says why, when known.
    bad_variant_cast(const std::string& from, const std::string& to, const std::string& detail = std::string())
        : _from(from), _to(to), _what("Cannot convert from " + from + " to " + to)
    {
        if (!detail.empty())
            _what += ": " + detail;
    }

    // The type name of the value that was held.
    const std::string& from() const noexcept { return _from; }

    // The type name that was asked for.
    const std::string& to() const noexcept { return _to; }

    const char* what() const noexcept override { return _what.c_str(); }

private:
    std::string _from;
    std::string _to;
    std::string _what;
};

} // namespace FB
