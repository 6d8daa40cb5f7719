#pragma once

#include <string>

namespace FB::registry {

/// What a registry operation came to. Every failure carries a message naming the key, value or file concerned.
enum class Result
{
    Ok,
    NotFound,           ///< the key or value does not exist
    InvalidName,        ///< a key path or value name that the store does not accept
    InvalidData,        ///< string data with a NUL character
    TypeMismatch,       ///< the value exists with another type than the one asked for
    KeyHasSubkeys,      ///< deleteKey on a key that still has subkeys
    StoreDamaged,       ///< the store file cannot be read back; it is left as it is
    StoreUnavailable,   ///< the store file or its lock cannot be opened, written or renamed
    ScriptSyntax,       ///< a registry script that does not parse
    UnknownSubstitution ///< a %NAME% in a registry script with no replacement
};

/// The fixed name of a result ("ok", "not-found", ...), as the documentation lists them.
const char* resultName(Result result);

/// A result with its message; `ok()` when the operation did what was asked.
struct Status
{
    Result result = Result::Ok;
    std::string message;

    bool ok() const { return result == Result::Ok; }
    static Status success() { return {}; }
    static Status failure(Result result, std::string message) { return {result, std::move(message)}; }
};

} // namespace FB::registry
