#include "browser/PluginModule.h"

#include "browser/HostFunctions.h"
#include "browser/PageObjectProxy.h"
#include "browser/PluginModuleCore.h"

#include <dlfcn.h>

#include <cstdio>
#include <vector>

namespace veltra::host {
namespace {

template <class Function>
Function entryPoint(void* library, const char* name)
{
    return reinterpret_cast<Function>(dlsym(library, name));
}

// The layout VeltraPlugin_GetVersionInfo hands out: key and value pairs up to a null key.
struct ExportedStringPair
{
    const char* key;
    const char* value;
};
using GetVersionInfoFunc = const ExportedStringPair* (*)();

const char* const kVersionInfoExport = "VeltraPlugin_GetVersionInfo";

// A record longer than this is not one the plug-in meant to give; stop rather than read on.
const std::size_t kMostRecordEntries = 256;

} // namespace

PluginLibraryInfo readPluginLibraryInfo(const std::string& path)
{
    std::unique_ptr<void, int (*)(void*)> library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL), dlclose);
    if (!library)
    {
        const char* why = dlerror();
        throw PluginError("Cannot open plug-in " + path + ": " + (why ? why : "unknown error"));
    }
    auto versionInfo = entryPoint<GetVersionInfoFunc>(library.get(), kVersionInfoExport);
    if (!versionInfo)
        throw PluginError("The library has no " + std::string(kVersionInfoExport) + ": " + path);

    PluginLibraryInfo info;
    if (auto describe = entryPoint<NP_GetMIMEDescriptionFunc>(library.get(), "NP_GetMIMEDescription"))
    {
        const char* description = describe();
        info.mimeDescription = description ? description : "";
    }
    const ExportedStringPair* entry = versionInfo();
    for (std::size_t count = 0; entry && entry->key; ++entry, ++count)
    {
        if (count == kMostRecordEntries)
            throw PluginError(std::string(kVersionInfoExport) + " gave no end to its record: " + path);
        info.versionRecord.emplace_back(entry->key, entry->value ? entry->value : "");
    }
    return info;
}

void PluginModule::LibraryCloser::operator()(void* handle) const
{
    if (handle)
        dlclose(handle);
}

PluginModule::PluginModule(const std::string& path, HostFunctions& host)
    : _core(std::make_shared<PluginModuleCore>(host))
{
    _library.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!_library)
    {
        const char* why = dlerror();
        throw PluginError("Cannot open plug-in " + path + ": " + (why ? why : "unknown error"));
    }
    auto initialize = entryPoint<NP_InitializeFunc>(_library.get(), "NP_Initialize");
    _shutdownEntry = entryPoint<NP_ShutdownFunc>(_library.get(), "NP_Shutdown");
    if (!initialize || !_shutdownEntry)
        throw PluginError("Not an NPAPI plug-in (no NP_Initialize or NP_Shutdown): " + path);
    if (auto describe = entryPoint<NP_GetMIMEDescriptionFunc>(_library.get(), "NP_GetMIMEDescription"))
    {
        const char* description = describe();
        _mimeDescription = description ? description : "";
    }

    NPPluginFuncs& funcs = _core->funcs;
    funcs.size = sizeof(NPPluginFuncs);
    funcs.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
    NPError started = host.loop().runSync([&] { return initialize(host.table(), &funcs); });
    if (started != NPERR_NO_ERROR)
        throw PluginError("NP_Initialize failed for " + path, started);
    if (!funcs.newp || !funcs.destroy)
    {
        host.loop().runSync([&] { _shutdownEntry(); });
        throw PluginError("The plug-in gave no NPP_New or NPP_Destroy: " + path, NPERR_INVALID_FUNCTABLE_ERROR);
    }
}

PluginModule::~PluginModule()
{
    try
    {
        shutdown();
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "veltra-host: plug-in shutdown failed: %s\n", error.what());
    }
}

bool PluginModule::isOpen() const
{
    std::lock_guard<std::mutex> guard(_core->lock);
    return _core->open;
}

std::unique_ptr<PluginInstance> PluginModule::createInstance(const std::string& mime, const InstanceArgs& args,
                                                             PageScript& page)
{
    if (!isOpen())
        throw PluginError("The plug-in module is shut down");
    std::unique_ptr<PluginInstance> instance(new PluginInstance(_core, page));
    instance->create(mime, args);
    return instance;
}

void PluginModule::shutdown()
{
    {
        std::lock_guard<std::mutex> guard(_core->lock);
        if (!_core->open)
            return;
        _core->open = false;
    }
    // The instances left are listed and destroyed on the browser thread, behind the tasks already
    // queued there: a page closed just before may have queued its own instances' destruction, and
    // an instance listed here first would be freed by that task while this one still used it.
    const auto destroyLeft = [this] {
        std::vector<PluginInstance*> left;
        {
            std::lock_guard<std::mutex> guard(_core->lock);
            left.assign(_core->live.begin(), _core->live.end());
        }
        for (PluginInstance* instance : left)
            instance->destroy();
    };

    BrowserLoop& loop = _core->host.loop();
    if (!loop.stopped())
    {
        loop.runSync(destroyLeft);
        loop.runSync([this] { _shutdownEntry(); });
    }
    else
    {
        destroyLeft();
        _shutdownEntry(); // its threads must end before its code is unmapped, browser thread or not
    }

    // Objects the plug-in made (held by a page, say) are freed through its code later.
    HostFunctions& host = _core->host;
    if (host.liveObjects() > host.liveProxies())
    {
        std::fprintf(stderr, "veltra-host: plug-in objects are still alive; the library stays loaded\n");
        _library.release();
        return;
    }
    _library.reset();
}

} // namespace veltra::host
