// The exported functions of the plug-in library: the NPAPI module entry points, the instance entry
// points they hand to the browser, the identity records, and one leftover test export. Compiled into the plug-in
// library itself (not the framework archive) so that the linker keeps every export.

#include "logging/Log.h"
#include "npapi/NpapiBrowser.h"
#include "npapi/NpapiHeaders.h"
#include "npapi/NpapiPlugin.h"
#include "npapi/NpapiPluginModule.h"
#include "plugincore/PluginIdentity.h"

#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

namespace {

using FB::Npapi::NpapiBrowser;
using FB::Npapi::NpapiPlugin;
using FB::Npapi::NpapiPluginModule;

const char* const kTraceSource = "NPAPI";

NpapiPlugin* pluginOf(NPP instance)
{
    return instance ? static_cast<NpapiPlugin*>(instance->pdata) : nullptr;
}

// Nothing may unwind into the browser: a failure is traced and reported as an NPAPI error.
template <typename Work>
NPError guarded(const char* what, Work&& work)
{
    try
    {
        return work();
    }
    catch (const std::exception& error)
    {
        FB::Log::trace(kTraceSource, std::string(what) + " failed: " + error.what());
    }
    catch (...)
    {
        FB::Log::trace(kTraceSource, std::string(what) + " failed");
    }
    return NPERR_GENERIC_ERROR;
}

std::string browserName(const std::string& userAgent)
{
    for (const char* name : {"Firefox", "Chromium", "Chrome", "Opera", "Safari"})
    {
        if (userAgent.find(name) != std::string::npos)
            return name;
    }
    return userAgent.empty() ? "unknown" : userAgent;
}

NPError NPP_New(NPMIMEType mimeType, NPP instance, uint16_t, int16_t argc, char* argn[], char* argv[], NPSavedData*)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    return guarded("NPP_New", [&] {
        NpapiPluginModule* module = NpapiPluginModule::current();
        if (!module || !module->browserFuncs() || !module->factory())
            return NPERR_GENERIC_ERROR;
        FB::Npapi::NpapiBrowserPtr browser = NpapiBrowser::create(module->browserFuncs(), instance);
        FB::PluginCore::setPlatform("Linux", browserName(browser->userAgent()));
        FB::PluginCorePtr core = module->factory()->createPlugin(mimeType ? mimeType : "");
        if (!core)
            return NPERR_GENERIC_ERROR;
        auto plugin = std::make_unique<NpapiPlugin>(browser, core);
        instance->pdata = plugin.get();
        try
        {
            plugin->init(argc, argn, argv);
        }
        catch (...)
        {
            instance->pdata = nullptr;
            throw;
        }
        plugin.release(); // owned by the instance until NPP_Destroy
        return NPERR_NO_ERROR;
    });
}

NPError NPP_Destroy(NPP instance, NPSavedData** save)
{
    if (save)
        *save = nullptr;
    NpapiPlugin* plugin = pluginOf(instance);
    if (!plugin)
        return NPERR_INVALID_INSTANCE_ERROR;
    instance->pdata = nullptr;
    return guarded("NPP_Destroy", [&] {
        std::unique_ptr<NpapiPlugin> owned(plugin);
        owned->destroy();
        return NPERR_NO_ERROR;
    });
}

NPError NPP_SetWindow(NPP instance, NPWindow* window)
{
    NpapiPlugin* plugin = pluginOf(instance);
    if (!plugin)
        return NPERR_INVALID_INSTANCE_ERROR;
    return guarded("NPP_SetWindow", [&] {
        plugin->setWindow(window);
        return NPERR_NO_ERROR;
    });
}

// The plug-in reads no streams; the browser is told so and sends none.
NPError NPP_NewStream(NPP, NPMIMEType, NPStream*, NPBool, uint16_t* type)
{
    if (type)
        *type = NP_NORMAL;
    return NPERR_GENERIC_ERROR;
}

NPError NPP_DestroyStream(NPP, NPStream*, NPReason)
{
    return NPERR_NO_ERROR;
}

void NPP_StreamAsFile(NPP, NPStream*, const char*)
{}

int32_t NPP_WriteReady(NPP, NPStream*)
{
    return 0;
}

int32_t NPP_Write(NPP, NPStream*, int32_t, int32_t, void*)
{
    return -1; // refuse data: the browser ends the stream
}

void NPP_Print(NPP, NPPrint*)
{}

int16_t NPP_HandleEvent(NPP instance, void* event)
{
    NpapiPlugin* plugin = pluginOf(instance);
    if (!plugin)
        return 0;
    int16_t handled = 0;
    guarded("NPP_HandleEvent", [&] {
        handled = plugin->handleEvent(event) ? 1 : 0;
        return NPERR_NO_ERROR;
    });
    return handled;
}

void NPP_URLNotify(NPP, const char*, NPReason, void*)
{}

// Answers the module-wide values (name, description) as well, since Unix browsers may ask either way.
NPError moduleValue(NPPVariable variable, void* value)
{
    NpapiPluginModule& module = NpapiPluginModule::instance();
    switch (variable)
    {
    case NPPVpluginNameString:
        *static_cast<const char**>(value) = module.pluginName().c_str();
        return NPERR_NO_ERROR;
    case NPPVpluginDescriptionString:
        *static_cast<const char**>(value) = module.pluginDescription().c_str();
        return NPERR_NO_ERROR;
    case NPPVpluginNeedsXEmbed:
        *static_cast<NPBool*>(value) = 0; // the plug-in draws into the X window it is handed
        return NPERR_NO_ERROR;
    default:
        return NPERR_INVALID_PARAM;
    }
}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value)
{
    if (!value)
        return NPERR_INVALID_PARAM;
    if (variable != NPPVpluginScriptableNPObject)
        return moduleValue(variable, value);
    NpapiPlugin* plugin = pluginOf(instance);
    if (!plugin)
        return NPERR_INVALID_INSTANCE_ERROR;
    return guarded("NPP_GetValue", [&] {
        NPObject* object = plugin->scriptableObject();
        *static_cast<NPObject**>(value) = object;
        return object ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR;
    });
}

NPError NPP_SetValue(NPP instance, NPNVariable, void*)
{
    return pluginOf(instance) ? NPERR_GENERIC_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

// A browser's table too short for the entry points we fill would be written past its end.
bool tableFits(const NPPluginFuncs& table)
{
    return table.size == 0 || table.size >= offsetof(NPPluginFuncs, setvalue) + sizeof(table.setvalue);
}

void fillPluginFuncs(NPPluginFuncs& table)
{
    // The size and version fields and the reserved slot stay as the browser set them.
    table.newp = NPP_New;
    table.destroy = NPP_Destroy;
    table.setwindow = NPP_SetWindow;
    table.newstream = NPP_NewStream;
    table.destroystream = NPP_DestroyStream;
    table.asfile = NPP_StreamAsFile;
    table.writeready = NPP_WriteReady;
    table.write = NPP_Write;
    table.print = NPP_Print;
    table.event = NPP_HandleEvent;
    table.urlnotify = NPP_URLNotify;
    table.getvalue = NPP_GetValue;
    table.setvalue = NPP_SetValue;
}

} // namespace

extern "C" {

NP_EXPORT(NPError) NP_GetEntryPoints(NPPluginFuncs* pluginFuncs)
{
    FB::Log::trace(kTraceSource, "");
    if (!pluginFuncs || !tableFits(*pluginFuncs))
        return NPERR_INVALID_FUNCTABLE_ERROR;
    return guarded("NP_GetEntryPoints", [&] {
        NpapiPluginModule::instance();
        fillPluginFuncs(*pluginFuncs);
        return NPERR_NO_ERROR;
    });
}

NP_EXPORT(NPError) NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs)
{
    if (!browserFuncs || (pluginFuncs && !tableFits(*pluginFuncs)))
        return NPERR_INVALID_FUNCTABLE_ERROR;
    return guarded("NP_Initialize", [&] {
        NpapiPluginModule::instance().initialize(*browserFuncs);
        // Unix browsers take the instance entry points here rather than through NP_GetEntryPoints.
        if (pluginFuncs)
            fillPluginFuncs(*pluginFuncs);
        FB::Log::trace(kTraceSource, "Initialization done");
        return NPERR_NO_ERROR;
    });
}

NP_EXPORT(NPError) NP_Shutdown(void)
{
    FB::Log::trace(kTraceSource, "Shutdown");
    return guarded("NP_Shutdown", [] {
        NpapiPluginModule::release();
        return NPERR_NO_ERROR;
    });
}

NP_EXPORT(const char*) NP_GetMIMEDescription(void)
{
    return NpapiPluginModule::instance().mimeDescription().c_str();
}

NP_EXPORT(NPError) NP_GetValue(void*, NPPVariable variable, void* value)
{
    if (!value)
        return NPERR_INVALID_PARAM;
    return moduleValue(variable, value);
}

// What a Windows build says in its version resource, for tools that list or register the plug-in
// without starting it: static data, so callable at any time, NP_Initialize or not.
NP_EXPORT(const VeltraPluginStringPair*) VeltraPlugin_GetVersionInfo(void)
{
    return FB::PluginIdentity::versionRecord();
}

NP_EXPORT(const VeltraPluginStringPair*) VeltraPlugin_GetIdentity(void)
{
    return FB::PluginIdentity::identityRecord();
}

} // extern "C"

namespace CDD {

__attribute__((visibility("default"))) void test()
{
    std::printf("done\n");
}

} // namespace CDD
