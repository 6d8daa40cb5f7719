#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registry/RegistryKey.h"
#include "registry/RegistryPath.h"
#include "registry/RegistryStatus.h"

namespace FB::registry {

/// The registry operations on the stores of one transaction, in memory: paths start from a root, HKEY_CLASSES_ROOT
/// being the machine store's Software\Classes. A store the transaction did not take gives StoreUnavailable. Counts
/// the changes it makes to each store, so that unchanged stores are not written back.
class RegistryView
{
public:
    /// Either tree may be null when its store is not part of the transaction.
    RegistryView(RegistryKey* user, RegistryKey* machine) : _user(user), _machine(machine) {}

    Status createKey(Root root, const KeyPath& path);
    /// Ok when the key exists, NotFound when not.
    Status openKey(Root root, const KeyPath& path) const;
    Status setValue(Root root, const KeyPath& path, const RegistryValue& value);
    Status setString(Root root, const KeyPath& path, const std::string& name, const std::string& text);
    Status setDword(Root root, const KeyPath& path, const std::string& name, std::uint32_t number);
    Status queryValue(Root root, const KeyPath& path, const std::string& name, RegistryValue& value) const;
    Status queryString(Root root, const KeyPath& path, const std::string& name, std::string& text) const;
    Status queryDword(Root root, const KeyPath& path, const std::string& name, std::uint32_t& number) const;
    Status deleteValue(Root root, const KeyPath& path, const std::string& name);
    /// Deletes a key that has no subkeys (its values go with it).
    Status deleteKey(Root root, const KeyPath& path);
    /// Deletes a key with everything below it.
    Status deleteTree(Root root, const KeyPath& path);
    Status enumSubkeys(Root root, const KeyPath& path, std::vector<std::string>& names) const;
    Status enumValues(Root root, const KeyPath& path, std::vector<RegistryValue>& values) const;
    /// Ok with `empty` set when the key has neither subkeys nor values.
    Status isEmpty(Root root, const KeyPath& path, bool& empty) const;

    std::size_t changes(Store store) const { return store == Store::User ? _userChanges : _machineChanges; }

private:
    /// queryValue, and TypeMismatch naming both types for a value of another type than `wanted`.
    Status queryTyped(Root root, const KeyPath& path, const std::string& name, ValueType wanted,
                      RegistryValue& value) const;

    struct Place
    {
        Store store;
        KeyPath path;
    };
    static Place place(Root root, const KeyPath& path);
    RegistryKey* tree(Store store) const { return store == Store::User ? _user : _machine; }
    Status find(Root root, const KeyPath& path, RegistryKey*& key) const;
    Status findParent(Root root, const KeyPath& path, RegistryKey*& parent, Store& store) const;
    void count(Store store) { ++(store == Store::User ? _userChanges : _machineChanges); }

    RegistryKey* _user;
    RegistryKey* _machine;
    std::size_t _userChanges = 0;
    std::size_t _machineChanges = 0;
};

} // namespace FB::registry
