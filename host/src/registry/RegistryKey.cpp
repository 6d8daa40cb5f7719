#include "RegistryKey.h"

#include "registry/RegistryPath.h"

namespace FB::registry {

RegistryKey* RegistryKey::subkey(const std::string& name)
{
    const auto found = _subkeys.find(foldName(name));
    return found == _subkeys.end() ? nullptr : found->second.get();
}

const RegistryKey* RegistryKey::subkey(const std::string& name) const
{
    const auto found = _subkeys.find(foldName(name));
    return found == _subkeys.end() ? nullptr : found->second.get();
}

RegistryKey& RegistryKey::addSubkey(const std::string& name, bool* created)
{
    std::unique_ptr<RegistryKey>& slot = _subkeys[foldName(name)];
    if (created)
        *created = !slot;
    if (!slot)
        slot = std::make_unique<RegistryKey>(name);
    return *slot;
}

bool RegistryKey::removeSubkey(const std::string& name)
{
    return _subkeys.erase(foldName(name)) > 0;
}

std::vector<const RegistryKey*> RegistryKey::subkeys() const
{
    std::vector<const RegistryKey*> list;
    list.reserve(_subkeys.size());
    for (const auto& entry : _subkeys)
        list.push_back(entry.second.get());
    return list;
}

const RegistryValue* RegistryKey::value(const std::string& name) const
{
    const auto found = _values.find(foldName(name));
    return found == _values.end() ? nullptr : &found->second;
}

bool RegistryKey::setValue(const RegistryValue& value)
{
    const std::string folded = foldName(value.name);
    const auto found = _values.find(folded);
    if (found == _values.end())
    {
        _values.emplace(folded, value);
        return true;
    }
    if (found->second.sameData(value))
        return false;
    const std::string spelling = found->second.name;
    found->second = value;
    found->second.name = spelling;
    return true;
}

bool RegistryKey::removeValue(const std::string& name)
{
    return _values.erase(foldName(name)) > 0;
}

std::vector<const RegistryValue*> RegistryKey::values() const
{
    std::vector<const RegistryValue*> list;
    list.reserve(_values.size());
    for (const auto& entry : _values)
        list.push_back(&entry.second);
    return list;
}

} // namespace FB::registry
