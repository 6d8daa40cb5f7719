#pragma once

#include <string>
#include <vector>

#include "registry/RegistryStatus.h"

namespace FB::registry {

/// The predefined keys a path starts from.
enum class Root
{
    ClassesRoot,  ///< HKEY_CLASSES_ROOT: the machine store's Software\Classes
    CurrentUser,  ///< HKEY_CURRENT_USER: the user store
    LocalMachine, ///< HKEY_LOCAL_MACHINE: the machine store
};

/// The two files that hold the keys.
enum class Store
{
    User,
    Machine
};

/// A key path split into its names, outermost first; empty for the root itself.
using KeyPath = std::vector<std::string>;

/// The longest key name the store accepts, in bytes.
constexpr std::size_t maxKeyNameLength = 255;

/// Splits `text` on '\' and checks every name; an empty text is the root itself.
Status parseKeyPath(const std::string& text, KeyPath& path);

/// Checks one key name: not empty, not "." or "..", no '\', no control characters, at most maxKeyNameLength bytes.
Status checkKeyName(const std::string& name);

/// Checks a value name (empty for the default value): no control characters.
Status checkValueName(const std::string& name);

/// The name as keys compare it: ASCII letters folded to lower case, other bytes as they are.
std::string foldName(const std::string& name);

/// The path joined with '\', for messages.
std::string joinKeyPath(const KeyPath& path);

/// "HKEY_CURRENT_USER" and so on.
const char* rootName(Root root);

} // namespace FB::registry
