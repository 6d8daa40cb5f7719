#pragma once

#include <npfunctions.h>

#include <mutex>
#include <set>

namespace veltra::host {

class HostFunctions;
class PluginInstance;

/// What a module and its instances share: the plug-in's entry points and the instances alive.
struct PluginModuleCore
{
    explicit PluginModuleCore(HostFunctions& hostFunctions) : host(hostFunctions) {}

    HostFunctions& host;
    NPPluginFuncs funcs{};
    std::mutex lock;                // guards the fields below
    std::set<PluginInstance*> live; // not owned: each instance leaves the set when destroyed
    bool open = true;
};

} // namespace veltra::host
