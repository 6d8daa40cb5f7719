#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "registry/RegistryView.h"
#include "registry/StoreFile.h"

namespace FB::registry {

/// Where the two store files are.
struct StoreLocations
{
    std::string userFile;
    std::string machineFile;

    /// From the process environment, as `resolve` says.
    static StoreLocations fromEnvironment();
    /// VELTRA_REGISTRY_USER, else $XDG_CONFIG_HOME/veltra/registry, else $HOME/.config/veltra/registry for the user;
    /// VELTRA_REGISTRY_MACHINE, else /etc/veltra/registry for the machine. Empty or relative XDG_CONFIG_HOME is
    /// ignored, as the base-directory rules say; with neither it nor HOME the user store has no location.
    static StoreLocations resolve(const std::function<const char*(const char*)>& lookup);
};

/// The registry kept in two files: HKEY_CURRENT_USER in the user's store, HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT
/// (its Software\Classes) in the machine's. Each operation is a transaction of its own; `update` runs a batch of
/// them as one. Any thread; the file locks order transactions between threads and processes alike.
class Registry
{
public:
    explicit Registry(const StoreLocations& locations = StoreLocations::fromEnvironment());

    using Change = std::function<Status(RegistryView&)>;
    using Reading = std::function<Status(const RegistryView&)>;

    /// Locks the stores (user before machine, so that two transactions never wait on each other), reads them again,
    /// runs `change` and writes back the stores it changed. When `change` fails nothing is written and its status
    /// is returned; so is a damaged store's, which is left as it is.
    Status update(const std::vector<Store>& stores, const Change& change);
    /// Reads the stores under shared locks and runs `reading`.
    Status read(const std::vector<Store>& stores, const Reading& reading) const;

    // Single operations; paths are '\'-separated names under the root, the empty path being the root itself.
    Status createKey(Root root, const std::string& path);
    Status openKey(Root root, const std::string& path) const;
    Status setString(Root root, const std::string& path, const std::string& name, const std::string& text);
    Status setDword(Root root, const std::string& path, const std::string& name, std::uint32_t number);
    Status queryString(Root root, const std::string& path, const std::string& name, std::string& text) const;
    Status queryDword(Root root, const std::string& path, const std::string& name, std::uint32_t& number) const;
    Status deleteValue(Root root, const std::string& path, const std::string& name);
    Status deleteKey(Root root, const std::string& path);
    Status deleteTree(Root root, const std::string& path);
    Status enumSubkeys(Root root, const std::string& path, std::vector<std::string>& names) const;
    Status enumValues(Root root, const std::string& path, std::vector<RegistryValue>& values) const;

    /// The whole store in the file's text form, for comparisons and diagnostics.
    Status dump(Store store, std::string& text) const;

    static Store storeOf(Root root) { return root == Root::CurrentUser ? Store::User : Store::Machine; }

private:
    const StoreFile& file(Store store) const { return store == Store::User ? _user : _machine; }
    Status updatePath(Root root, const std::string& path,
                      const std::function<Status(RegistryView&, const KeyPath&)>& change);
    Status readPath(Root root, const std::string& path,
                    const std::function<Status(const RegistryView&, const KeyPath&)>& reading) const;

    StoreFile _user;
    StoreFile _machine;
};

} // namespace FB::registry
