#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "registry/Registry.h"

namespace FB::registry {

/// What a key's flag asks for when a script is applied.
enum class KeyRule
{
    Plain,       ///< made at registration; removed at unregistration when nothing else is left in it
    NoRemove,    ///< made at registration; never removed, only what the script lists inside it
    ForceRemove, ///< deleted with its whole tree before it is written, and removed whole at unregistration
    Delete       ///< deleted with its whole tree at registration; left alone at unregistration
};

/// One key of a script with what the script puts into it.
struct ScriptKey
{
    KeyRule rule = KeyRule::Plain;
    std::string name;
    std::optional<RegistryValue> defaultValue;
    std::vector<RegistryValue> values;
    std::vector<ScriptKey> subkeys;
};

/// The keys a script lists under one root.
struct ScriptRootBlock
{
    Root root = Root::ClassesRoot;
    std::vector<ScriptKey> keys;
};

/// A parsed registry script, substitutions done.
struct RegistryScript
{
    std::vector<ScriptRootBlock> blocks;
};

/// Where a script's parse failed; line and column count from 1, the column in bytes.
struct ScriptPosition
{
    int line = 0;
    int column = 0;
};

/// The replacements of %NAME% in a script.
using ScriptSubstitutions = std::map<std::string, std::string>;

/// Parses a registry script, replacing %NAME% in names and data from `substitutions` ("%%" is a single '%'). Fails
/// with ScriptSyntax or UnknownSubstitution, a message starting "line L, column C:", and `where` set when given.
Status parseRegistryScript(const std::string& text, const ScriptSubstitutions& substitutions, RegistryScript& script,
                           ScriptPosition* where = nullptr);

enum class ScriptAction
{
    Register,
    Unregister
};

/// Whose registration it is: per user, HKEY_CLASSES_ROOT in a script stands for HKEY_CURRENT_USER\Software\Classes.
enum class ScriptScope
{
    PerUser,
    Machine
};

/// Applies a parsed script as one transaction over the stores it touches: either all of it is written or nothing.
/// `changes`, when given, receives how many keys and values it made, changed or removed (0 for an unregistration of
/// something never registered, which is not an error).
Status applyRegistryScript(Registry& registry, const RegistryScript& script, ScriptAction action, ScriptScope scope,
                           std::size_t* changes = nullptr);

/// Parses and applies; a script that does not parse changes nothing.
Status runRegistryScript(Registry& registry, const std::string& text, const ScriptSubstitutions& substitutions,
                         ScriptAction action, ScriptScope scope, std::size_t* changes = nullptr);

} // namespace FB::registry
