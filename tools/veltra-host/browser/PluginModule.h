#pragma once

#include "browser/PluginInstance.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace veltra::host {

class HostFunctions;
class PageScript;

/// What a plug-in library says of itself without being initialised.
struct PluginLibraryInfo
{
    std::string mimeDescription; // NP_GetMIMEDescription's answer, "" without that export
    std::vector<std::pair<std::string, std::string>> versionRecord; // VeltraPlugin_GetVersionInfo, in order
};

/// Opens `path`, copies its MIME description and version record, and closes it again; nothing of
/// the plug-in is started (no NP_Initialize). Throws PluginError when the library cannot be opened
/// or lacks VeltraPlugin_GetVersionInfo. Any thread.
PluginLibraryInfo readPluginLibraryInfo(const std::string& path);

/// A plug-in library opened with dlopen and reached only through its NPAPI exports. Entry points
/// run on the browser loop. Use a module and its instances from one controlling thread (any but
/// the browser thread, or the browser thread itself).
class PluginModule
{
public:
    /// Opens `path`, resolves its entry points and initialises it with the host's table. Throws
    /// PluginError when the library cannot be opened, lacks an entry point or refuses to start.
    PluginModule(const std::string& path, HostFunctions& host);
    /// Shuts down (see shutdown()).
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    /// What NP_GetMIMEDescription answered ("" when the library has no such export).
    const std::string& mimeDescription() const { return _mimeDescription; }
    bool isOpen() const;

    /// A new instance of `mime` in `page` (which must outlive the instance), with the element's
    /// name/value pairs as NPP_New receives them. Throws PluginError when the plug-in refuses it
    /// or the module is shut down.
    std::unique_ptr<PluginInstance> createInstance(const std::string& mime, const InstanceArgs& args, PageScript& page);

    /// Destroys the instances still alive, calls NP_Shutdown and closes the library. The library
    /// stays loaded when objects of the plug-in are still alive, since freeing them needs its code.
    /// Calling it again does nothing.
    void shutdown();

private:
    std::shared_ptr<PluginModuleCore> _core;
    std::string _mimeDescription;
    struct LibraryCloser
    {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, LibraryCloser> _library; // the dlopen handle
    NP_ShutdownFunc _shutdownEntry = nullptr;
};

} // namespace veltra::host
