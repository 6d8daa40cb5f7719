#pragma once

#include "registry/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace veltra::host {

/// The MIME type a library must handle to be taken as the Veltra plug-in.
inline constexpr const char* kPluginMimeType = "application/x-veltra";
/// Where NPAPI browsers look for registered plug-ins, under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
inline constexpr const char* kMozillaPluginsKey = "Software\\MozillaPlugins";

/// Whether an NP_GetMIMEDescription answer ("type:extensions:description;...") lists `mime` as one of its types.
bool mimeDescriptionLists(const std::string& description, const std::string& mime);

/// "" when `path` is an absolute path to a library that exports NP_GetMIMEDescription listing `mime`, else why it
/// is not. The library is opened to ask it (its static constructors run, as in a browser's plug-in scan), never
/// initialised, and closed again. Any thread.
std::string whyNotPluginFor(const std::string& path, const std::string& mime = kPluginMimeType);

/// Which plug-in library to load, where it came from, and what was passed over on the way.
struct PluginChoice
{
    std::string path;                 ///< empty when none was found
    std::string origin;               ///< "--plugin", "the build", or the registry key that named it
    std::vector<std::string> skipped; ///< each registry key passed over, with the reason
    std::string failure;              ///< when `path` is empty: everything that was looked at
};

/// The first key under HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE, `Software\MozillaPlugins` (in the registry's
/// order of names) whose string value Path passes whyNotPluginFor. A store that cannot be read counts as one without
/// keys and is named in `skipped`.
PluginChoice findRegisteredPlugin(const FB::registry::Registry& registry, const std::string& mime = kPluginMimeType);

/// `given` (--plugin) as it is when not empty; else `buildLibrary` when that file exists; else findRegisteredPlugin.
PluginChoice locatePlugin(const std::string& given, const std::string& buildLibrary,
                          const FB::registry::Registry& registry);

/// What a DllInstall call on a library came to.
struct PluginRegistration
{
    bool called = false;            ///< false when the library could not be opened or lacks DllInstall
    std::int32_t code = 0;          ///< DllInstall's result, S_OK (0) on success
    std::vector<std::string> lines; ///< what was registered or removed, or why nothing was called
};

/// Opens the library at `path` (made absolute first, so that the Path it registers is too), calls its
/// DllInstall(install, "user") and reports the HKEY_CURRENT_USER\Software\MozillaPlugins keys whose Path the call
/// wrote (registration) or removed (unregistration). The library writes the registry of the process environment
/// (VELTRA_REGISTRY_USER and VELTRA_REGISTRY_MACHINE), so that is the one read here.
PluginRegistration installPluginLibrary(const std::string& path, bool install);

} // namespace veltra::host
