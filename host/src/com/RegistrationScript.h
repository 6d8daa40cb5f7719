#pragma once

#include "registry/RegistryScript.h"

#include <string>

namespace FB::Com {

/// The registry script the plug-in library registers itself with, with %MODULE%, %APPID%, %LIBID%, %THREADING%
/// and %PLUGINID% left for `registrationSubstitutions` to fill.
const char* registrationScript();

/// The type library's identifier, registered as the control's TypeLib.
extern const char* const typeLibraryId;

/// The script's substitutions for the library at `modulePath`: the application id of the plug-in's identity, the
/// type library above, the "Apartment" threading model and the plug-in's MozillaPlugins key.
registry::ScriptSubstitutions registrationSubstitutions(const std::string& modulePath);

} // namespace FB::Com
