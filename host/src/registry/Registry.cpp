#include "Registry.h"

#include <cstdlib>

#include "registry/StoreFormat.h"

namespace FB::registry {

namespace {

std::string nonEmpty(const char* value)
{
    return value && *value ? std::string(value) : std::string();
}

struct HeldStores
{
    bool user = false;
    bool machine = false;
    RegistryKey userTree;
    RegistryKey machineTree;
    StoreLock userLock;
    StoreLock machineLock;
};

HeldStores wanted(const std::vector<Store>& stores)
{
    HeldStores held;
    for (Store store : stores)
        (store == Store::User ? held.user : held.machine) = true;
    return held;
}

} // namespace

StoreLocations StoreLocations::fromEnvironment()
{
    return resolve([](const char* name) { return std::getenv(name); });
}

StoreLocations StoreLocations::resolve(const std::function<const char*(const char*)>& lookup)
{
    StoreLocations locations;
    const std::string user = nonEmpty(lookup("VELTRA_REGISTRY_USER"));
    const std::string config = nonEmpty(lookup("XDG_CONFIG_HOME"));
    const std::string home = nonEmpty(lookup("HOME"));
    if (!user.empty())
        locations.userFile = user;
    else if (!config.empty() && config.front() == '/')
        locations.userFile = config + "/veltra/registry";
    else if (!home.empty())
        locations.userFile = home + "/.config/veltra/registry";
    const std::string machine = nonEmpty(lookup("VELTRA_REGISTRY_MACHINE"));
    locations.machineFile = machine.empty() ? std::string("/etc/veltra/registry") : machine;
    return locations;
}

Registry::Registry(const StoreLocations& locations)
    : _user(locations.userFile, 0600), _machine(locations.machineFile, 0644)
{}

Status Registry::update(const std::vector<Store>& stores, const Change& change)
{
    HeldStores held = wanted(stores);
    if (held.user)
    {
        Status status = _user.lock(true, held.userLock);
        if (status.ok())
            status = _user.load(held.userTree);
        if (!status.ok())
            return status;
    }
    if (held.machine)
    {
        Status status = _machine.lock(true, held.machineLock);
        if (status.ok())
            status = _machine.load(held.machineTree);
        if (!status.ok())
            return status;
    }
    RegistryView view(held.user ? &held.userTree : nullptr, held.machine ? &held.machineTree : nullptr);
    Status status = change(view);
    if (!status.ok())
        return status;
    if (held.user && view.changes(Store::User) > 0)
    {
        status = _user.save(held.userTree);
        if (!status.ok())
            return status;
    }
    if (held.machine && view.changes(Store::Machine) > 0)
        return _machine.save(held.machineTree);
    return Status::success();
}

Status Registry::read(const std::vector<Store>& stores, const Reading& reading) const
{
    HeldStores held = wanted(stores);
    if (held.user)
    {
        Status status = _user.lock(false, held.userLock);
        if (status.ok())
            status = _user.load(held.userTree);
        if (!status.ok())
            return status;
    }
    if (held.machine)
    {
        Status status = _machine.lock(false, held.machineLock);
        if (status.ok())
            status = _machine.load(held.machineTree);
        if (!status.ok())
            return status;
    }
    const RegistryView view(held.user ? &held.userTree : nullptr, held.machine ? &held.machineTree : nullptr);
    return reading(view);
}

Status Registry::updatePath(Root root, const std::string& path,
                            const std::function<Status(RegistryView&, const KeyPath&)>& change)
{
    KeyPath parsed;
    Status status = parseKeyPath(path, parsed);
    if (!status.ok())
        return status;
    return update({storeOf(root)}, [&](RegistryView& view) { return change(view, parsed); });
}

Status Registry::readPath(Root root, const std::string& path,
                          const std::function<Status(const RegistryView&, const KeyPath&)>& reading) const
{
    KeyPath parsed;
    Status status = parseKeyPath(path, parsed);
    if (!status.ok())
        return status;
    return read({storeOf(root)}, [&](const RegistryView& view) { return reading(view, parsed); });
}

Status Registry::createKey(Root root, const std::string& path)
{
    return updatePath(root, path, [&](RegistryView& view, const KeyPath& p) { return view.createKey(root, p); });
}

Status Registry::openKey(Root root, const std::string& path) const
{
    return readPath(root, path, [&](const RegistryView& view, const KeyPath& p) { return view.openKey(root, p); });
}

Status Registry::setString(Root root, const std::string& path, const std::string& name, const std::string& text)
{
    return updatePath(root, path,
                      [&](RegistryView& view, const KeyPath& p) { return view.setString(root, p, name, text); });
}

Status Registry::setDword(Root root, const std::string& path, const std::string& name, std::uint32_t number)
{
    return updatePath(root, path,
                      [&](RegistryView& view, const KeyPath& p) { return view.setDword(root, p, name, number); });
}

Status Registry::queryString(Root root, const std::string& path, const std::string& name, std::string& text) const
{
    return readPath(root, path,
                    [&](const RegistryView& view, const KeyPath& p) { return view.queryString(root, p, name, text); });
}

Status Registry::queryDword(Root root, const std::string& path, const std::string& name, std::uint32_t& number) const
{
    return readPath(root, path,
                    [&](const RegistryView& view, const KeyPath& p) { return view.queryDword(root, p, name, number); });
}

Status Registry::deleteValue(Root root, const std::string& path, const std::string& name)
{
    return updatePath(root, path,
                      [&](RegistryView& view, const KeyPath& p) { return view.deleteValue(root, p, name); });
}

Status Registry::deleteKey(Root root, const std::string& path)
{
    return updatePath(root, path, [&](RegistryView& view, const KeyPath& p) { return view.deleteKey(root, p); });
}

Status Registry::deleteTree(Root root, const std::string& path)
{
    return updatePath(root, path, [&](RegistryView& view, const KeyPath& p) { return view.deleteTree(root, p); });
}

Status Registry::enumSubkeys(Root root, const std::string& path, std::vector<std::string>& names) const
{
    return readPath(root, path,
                    [&](const RegistryView& view, const KeyPath& p) { return view.enumSubkeys(root, p, names); });
}

Status Registry::enumValues(Root root, const std::string& path, std::vector<RegistryValue>& values) const
{
    return readPath(root, path,
                    [&](const RegistryView& view, const KeyPath& p) { return view.enumValues(root, p, values); });
}

Status Registry::dump(Store store, std::string& text) const
{
    StoreLock lock;
    Status status = file(store).lock(false, lock);
    RegistryKey tree;
    if (status.ok())
        status = file(store).load(tree);
    if (status.ok())
        text = writeStoreText(tree);
    return status;
}

} // namespace FB::registry
