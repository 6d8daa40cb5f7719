#pragma once

#include <npruntime.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

namespace veltra::host {

class HostFunctions;

/// The ids under which the page knows the plug-in's objects. Each object listed is retained once
/// and stays alive until the page has released it as often as it was added. Safe from any thread.
class PluginObjectTable
{
public:
    using Id = std::int64_t;

    explicit PluginObjectTable(HostFunctions& host) : _host(host) {}
    /// Releases whatever the page still holds.
    ~PluginObjectTable();
    PluginObjectTable(const PluginObjectTable&) = delete;
    PluginObjectTable& operator=(const PluginObjectTable&) = delete;

    /// The object's id (the same one while it stays listed); 0 for null or an object that is not alive.
    Id add(NPObject* object);
    /// The object behind `id`, borrowed; null when unknown.
    NPObject* find(Id id) const;
    /// Gives back one of the page's references; false for an unknown id.
    bool release(Id id);
    /// Forgets every object (when the page goes away).
    void clear();
    std::size_t size() const;

private:
    struct Entry
    {
        NPObject* object;
        std::size_t references;
    };

    HostFunctions& _host;
    mutable std::mutex _lock; // guards the fields below; not held while releasing objects
    std::map<Id, Entry> _byId;
    std::map<const NPObject*, Id> _byObject;
    Id _lastId = 0;
};

} // namespace veltra::host
