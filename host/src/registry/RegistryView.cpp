#include "RegistryView.h"

namespace FB::registry {

namespace {

std::string describe(Root root, const KeyPath& path)
{
    std::string text = rootName(root);
    if (!path.empty())
        text += "\\" + joinKeyPath(path);
    return text;
}

Status checkPath(const KeyPath& path)
{
    for (const std::string& name : path)
    {
        Status checked = checkKeyName(name);
        if (!checked.ok())
            return checked;
    }
    return Status::success();
}

const char* typeName(ValueType type)
{
    return type == ValueType::String ? "string" : "dword";
}

} // namespace

RegistryView::Place RegistryView::place(Root root, const KeyPath& path)
{
    switch (root)
    {
    case Root::CurrentUser: return {Store::User, path};
    case Root::LocalMachine: return {Store::Machine, path};
    case Root::ClassesRoot: break;
    }
    KeyPath full{"Software", "Classes"};
    full.insert(full.end(), path.begin(), path.end());
    return {Store::Machine, full};
}

Status RegistryView::find(Root root, const KeyPath& path, RegistryKey*& key) const
{
    key = nullptr;
    Status checked = checkPath(path);
    if (!checked.ok())
        return checked;
    const Place where = place(root, path);
    RegistryKey* current = tree(where.store);
    if (!current)
        return Status::failure(Result::StoreUnavailable,
                               std::string("the transaction does not hold the store of ") + rootName(root));
    for (const std::string& name : where.path)
    {
        current = current->subkey(name);
        if (!current)
            return Status::failure(Result::NotFound, "no key " + describe(root, path));
    }
    key = current;
    return Status::success();
}

Status RegistryView::findParent(Root root, const KeyPath& path, RegistryKey*& parent, Store& store) const
{
    if (path.empty())
        return Status::failure(Result::InvalidName, std::string("cannot delete the root ") + rootName(root));
    store = place(root, path).store;
    Status found = find(root, KeyPath(path.begin(), path.end() - 1), parent);
    if (found.result == Result::NotFound)
        found.message = "no key " + describe(root, path);
    return found;
}

Status RegistryView::createKey(Root root, const KeyPath& path)
{
    Status checked = checkPath(path);
    if (!checked.ok())
        return checked;
    const Place where = place(root, path);
    RegistryKey* current = tree(where.store);
    if (!current)
        return Status::failure(Result::StoreUnavailable,
                               std::string("the transaction does not hold the store of ") + rootName(root));
    for (const std::string& name : where.path)
    {
        bool created = false;
        current = &current->addSubkey(name, &created);
        if (created)
            count(where.store);
    }
    return Status::success();
}

Status RegistryView::openKey(Root root, const KeyPath& path) const
{
    RegistryKey* key = nullptr;
    return find(root, path, key);
}

Status RegistryView::setValue(Root root, const KeyPath& path, const RegistryValue& value)
{
    Status checked = checkValueName(value.name);
    if (!checked.ok())
        return checked;
    if (value.type == ValueType::String && value.text.find('\0') != std::string::npos)
        return Status::failure(Result::InvalidData, "string data for '" + value.name + "' contains a NUL character");
    RegistryKey* key = nullptr;
    Status found = find(root, path, key);
    if (!found.ok())
        return found;
    if (key->setValue(value))
        count(place(root, path).store);
    return Status::success();
}

Status RegistryView::setString(Root root, const KeyPath& path, const std::string& name, const std::string& text)
{
    return setValue(root, path, RegistryValue::string(name, text));
}

Status RegistryView::setDword(Root root, const KeyPath& path, const std::string& name, std::uint32_t number)
{
    return setValue(root, path, RegistryValue::dword(name, number));
}

Status RegistryView::queryValue(Root root, const KeyPath& path, const std::string& name, RegistryValue& value) const
{
    RegistryKey* key = nullptr;
    Status found = find(root, path, key);
    if (!found.ok())
        return found;
    const RegistryValue* stored = key->value(name);
    if (!stored)
        return Status::failure(Result::NotFound, "no value " +
                                                     (name.empty() ? std::string("(default)") : "'" + name + "'") +
                                                     " in " + describe(root, path));
    value = *stored;
    return Status::success();
}

Status RegistryView::queryTyped(Root root, const KeyPath& path, const std::string& name, ValueType wanted,
                                RegistryValue& value) const
{
    Status found = queryValue(root, path, name, value);
    if (!found.ok())
        return found;
    if (value.type != wanted)
        return Status::failure(Result::TypeMismatch, "value '" + name + "' in " + describe(root, path) + " is a " +
                                                         typeName(value.type) + ", not a " + typeName(wanted));
    return Status::success();
}

Status RegistryView::queryString(Root root, const KeyPath& path, const std::string& name, std::string& text) const
{
    RegistryValue value;
    Status found = queryTyped(root, path, name, ValueType::String, value);
    if (found.ok())
        text = value.text;
    return found;
}

Status RegistryView::queryDword(Root root, const KeyPath& path, const std::string& name, std::uint32_t& number) const
{
    RegistryValue value;
    Status found = queryTyped(root, path, name, ValueType::Dword, value);
    if (found.ok())
        number = value.number;
    return found;
}

Status RegistryView::deleteValue(Root root, const KeyPath& path, const std::string& name)
{
    RegistryKey* key = nullptr;
    Status found = find(root, path, key);
    if (!found.ok())
        return found;
    if (!key->removeValue(name))
        return Status::failure(Result::NotFound, "no value '" + name + "' in " + describe(root, path));
    count(place(root, path).store);
    return Status::success();
}

Status RegistryView::deleteKey(Root root, const KeyPath& path)
{
    RegistryKey* parent = nullptr;
    Store store = Store::User;
    Status found = findParent(root, path, parent, store);
    if (!found.ok())
        return found;
    const RegistryKey* key = parent->subkey(path.back());
    if (!key)
        return Status::failure(Result::NotFound, "no key " + describe(root, path));
    if (key->hasSubkeys())
        return Status::failure(Result::KeyHasSubkeys, describe(root, path) + " has subkeys");
    parent->removeSubkey(path.back());
    count(store);
    return Status::success();
}

Status RegistryView::deleteTree(Root root, const KeyPath& path)
{
    RegistryKey* parent = nullptr;
    Store store = Store::User;
    Status found = findParent(root, path, parent, store);
    if (!found.ok())
        return found;
    if (!parent->removeSubkey(path.back()))
        return Status::failure(Result::NotFound, "no key " + describe(root, path));
    count(store);
    return Status::success();
}

Status RegistryView::enumSubkeys(Root root, const KeyPath& path, std::vector<std::string>& names) const
{
    names.clear();
    RegistryKey* key = nullptr;
    Status found = find(root, path, key);
    if (!found.ok())
        return found;
    for (const RegistryKey* subkey : key->subkeys())
        names.push_back(subkey->name());
    return Status::success();
}

Status RegistryView::enumValues(Root root, const KeyPath& path, std::vector<RegistryValue>& values) const
{
    values.clear();
    RegistryKey* key = nullptr;
    Status found = find(root, path, key);
    if (!found.ok())
        return found;
    for (const RegistryValue* value : key->values())
        values.push_back(*value);
    return Status::success();
}

Status RegistryView::isEmpty(Root root, const KeyPath& path, bool& empty) const
{
    RegistryKey* key = nullptr;
    Status found = find(root, path, key);
    if (found.ok())
        empty = key->empty();
    return found;
}

} // namespace FB::registry
