#include "browser/PluginObjectTable.h"

#include "browser/HostFunctions.h"

#include <vector>

namespace veltra::host {

PluginObjectTable::~PluginObjectTable()
{
    clear();
}

PluginObjectTable::Id PluginObjectTable::add(NPObject* object)
{
    if (!object || !_host.isLiveObject(object))
        return 0;
    std::lock_guard<std::mutex> guard(_lock);
    auto known = _byObject.find(object);
    if (known != _byObject.end())
    {
        ++_byId[known->second].references;
        return known->second;
    }
    _host.retainObject(object);
    Id id = ++_lastId;
    _byId[id] = Entry{object, 1};
    _byObject[object] = id;
    return id;
}

NPObject* PluginObjectTable::find(Id id) const
{
    std::lock_guard<std::mutex> guard(_lock);
    auto found = _byId.find(id);
    return found == _byId.end() ? nullptr : found->second.object;
}

bool PluginObjectTable::release(Id id)
{
    NPObject* freed = nullptr;
    {
        std::lock_guard<std::mutex> guard(_lock);
        auto found = _byId.find(id);
        if (found == _byId.end())
            return false;
        if (--found->second.references > 0)
            return true;
        freed = found->second.object;
        _byObject.erase(freed);
        _byId.erase(found);
    }
    _host.releaseObject(freed);
    return true;
}

void PluginObjectTable::clear()
{
    std::map<Id, Entry> all;
    {
        std::lock_guard<std::mutex> guard(_lock);
        all.swap(_byId);
        _byObject.clear();
    }
    for (auto& entry : all)
        _host.releaseObject(entry.second.object);
}

std::size_t PluginObjectTable::size() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _byId.size();
}

} // namespace veltra::host
