#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace FB::registry {

/// The kinds of data a value holds: REG_SZ and REG_DWORD.
enum class ValueType
{
    String,
    Dword
};

/// One named value of a key; the default value has an empty name.
struct RegistryValue
{
    std::string name;
    ValueType type = ValueType::String;
    std::string text;
    std::uint32_t number = 0;

    static RegistryValue string(std::string name, std::string text)
    {
        return {std::move(name), ValueType::String, std::move(text), 0};
    }
    static RegistryValue dword(std::string name, std::uint32_t number)
    {
        return {std::move(name), ValueType::Dword, {}, number};
    }
    /// Same type and data; names are not compared.
    bool sameData(const RegistryValue& other) const
    {
        return type == other.type && (type == ValueType::String ? text == other.text : number == other.number);
    }
};

/// A key held in memory: its subkeys and values, found by name without regard to ASCII case, listed in the order of
/// their folded names. Names are not checked here; the callers check them once where they come in.
class RegistryKey
{
public:
    explicit RegistryKey(std::string name = {}) : _name(std::move(name)) {}

    const std::string& name() const { return _name; }

    RegistryKey* subkey(const std::string& name);
    const RegistryKey* subkey(const std::string& name) const;
    /// The subkey of that name, made when missing (`created` tells which); an existing one keeps its spelling.
    RegistryKey& addSubkey(const std::string& name, bool* created = nullptr);
    bool removeSubkey(const std::string& name);
    std::vector<const RegistryKey*> subkeys() const;

    const RegistryValue* value(const std::string& name) const;
    /// Sets the value and tells whether anything changed; an existing value keeps the spelling of its name.
    bool setValue(const RegistryValue& value);
    bool removeValue(const std::string& name);
    std::vector<const RegistryValue*> values() const;

    bool hasSubkeys() const { return !_subkeys.empty(); }
    bool empty() const { return _subkeys.empty() && _values.empty(); }

private:
    std::string _name;
    std::map<std::string, std::unique_ptr<RegistryKey>> _subkeys;
    std::map<std::string, RegistryValue> _values;
};

} // namespace FB::registry
