#include "RegistryScript.h"

#include <algorithm>

namespace FB::registry {

namespace {

/// Applies the keys of one script to a view, under the root and prefix its scope maps each block to.
class ScriptApplier
{
public:
    explicit ScriptApplier(RegistryView& view) : _view(view) {}

    Status registerKeys(Root root, const KeyPath& parent, const std::vector<ScriptKey>& keys)
    {
        for (const ScriptKey& key : keys)
        {
            KeyPath path = parent;
            path.push_back(key.name);
            if (key.rule == KeyRule::Delete || key.rule == KeyRule::ForceRemove)
            {
                Status removed = _view.deleteTree(root, path);
                if (!removed.ok() && removed.result != Result::NotFound)
                    return removed;
                if (key.rule == KeyRule::Delete)
                    continue;
            }
            Status status = _view.createKey(root, path);
            if (status.ok() && key.defaultValue)
                status = _view.setValue(root, path, *key.defaultValue);
            for (auto value = key.values.begin(); status.ok() && value != key.values.end(); ++value)
                status = _view.setValue(root, path, *value);
            if (status.ok())
                status = registerKeys(root, path, key.subkeys);
            if (!status.ok())
                return status;
        }
        return Status::success();
    }

    // Undoes registerKeys: what the script wrote goes, keys it made go once nothing else is left in them, and
    // what is missing already is passed over, so that undoing what was never done changes nothing.
    Status unregisterKeys(Root root, const KeyPath& parent, const std::vector<ScriptKey>& keys)
    {
        for (const ScriptKey& key : keys)
        {
            KeyPath path = parent;
            path.push_back(key.name);
            if (key.rule == KeyRule::Delete)
                continue;
            Status status = _view.openKey(root, path);
            if (status.result == Result::NotFound)
                continue;
            if (!status.ok())
                return status;
            if (key.rule == KeyRule::ForceRemove)
            {
                status = _view.deleteTree(root, path);
                if (!status.ok())
                    return status;
                continue;
            }
            status = unregisterKeys(root, path, key.subkeys);
            if (status.ok() && key.defaultValue)
                status = removeValue(root, path, "");
            for (auto value = key.values.begin(); status.ok() && value != key.values.end(); ++value)
                status = removeValue(root, path, value->name);
            if (!status.ok())
                return status;
            if (key.rule == KeyRule::NoRemove)
                continue;
            bool empty = false;
            status = _view.isEmpty(root, path, empty);
            if (status.ok() && empty)
                status = _view.deleteKey(root, path);
            if (!status.ok())
                return status;
        }
        return Status::success();
    }

private:
    Status removeValue(Root root, const KeyPath& path, const std::string& name)
    {
        const Status removed = _view.deleteValue(root, path, name);
        return removed.result == Result::NotFound ? Status::success() : removed;
    }

    RegistryView& _view;
};

struct MappedBlock
{
    Root root;
    KeyPath prefix;
};

MappedBlock mapBlock(Root root, ScriptScope scope)
{
    if (root == Root::ClassesRoot && scope == ScriptScope::PerUser)
        return {Root::CurrentUser, {"Software", "Classes"}};
    return {root, {}};
}

} // namespace

Status applyRegistryScript(Registry& registry, const RegistryScript& script, ScriptAction action, ScriptScope scope,
                           std::size_t* changes)
{
    if (changes)
        *changes = 0;
    std::vector<Store> stores;
    for (const ScriptRootBlock& block : script.blocks)
    {
        const Store store = Registry::storeOf(mapBlock(block.root, scope).root);
        if (std::find(stores.begin(), stores.end(), store) == stores.end())
            stores.push_back(store);
    }
    if (stores.empty())
        return Status::success();

    return registry.update(stores, [&](RegistryView& view) {
        ScriptApplier applier(view);
        for (const ScriptRootBlock& block : script.blocks)
        {
            const MappedBlock mapped = mapBlock(block.root, scope);
            Status status;
            if (action == ScriptAction::Register)
            {
                status = view.createKey(mapped.root, mapped.prefix);
                if (status.ok())
                    status = applier.registerKeys(mapped.root, mapped.prefix, block.keys);
            }
            else
                status = applier.unregisterKeys(mapped.root, mapped.prefix, block.keys);
            if (!status.ok())
                return status;
        }
        if (changes)
            *changes = view.changes(Store::User) + view.changes(Store::Machine);
        return Status::success();
    });
}

Status runRegistryScript(Registry& registry, const std::string& text, const ScriptSubstitutions& substitutions,
                         ScriptAction action, ScriptScope scope, std::size_t* changes)
{
    if (changes)
        *changes = 0;
    RegistryScript script;
    const Status parsed = parseRegistryScript(text, substitutions, script);
    if (!parsed.ok())
        return parsed;
    return applyRegistryScript(registry, script, action, scope, changes);
}

} // namespace FB::registry
