#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

namespace SolvoEarthUtil {

/// Lets osgDB find the reader plug-ins built with Veltra (".ifc", ".gltf" and ".glb"): their
/// folder, osgPlugins-<version> beside this library, goes first in the registry's library path,
/// and ".glb" is read by the glTF reader. Idempotent and thread-safe; model loading calls it.
SOLVOEARTHUTIL_EXPORT void useBundledReaders();

} // namespace SolvoEarthUtil
