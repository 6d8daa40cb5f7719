#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Node>

#include <string>

namespace SolvoEarthUtil {

/// Reads a model through the registry's file cache when one is set: a cached copy is read from
/// the cache; otherwise the file or URL is read once, parsed from memory, and its bytes are
/// written to the cache beside the load (CacheWrites), so a second load while that write is
/// pending uses the same bytes. A ".zip" model is cached under the same path ending in ".osgb",
/// as the model it contains; ".ifc", ".gltf" and ".glb" models are cached as the model read
/// from them, in the native binary format under "<path>.osgb", so that a second load skips
/// their conversion. Every model is then prepared to be kept and drawn cheaply
/// (prepareLoadedModel). A cache entry that cannot be read is replaced by the model.
/// The caller takes over the returned node (its reference count is 0); null on failure, with a
/// warning that names the path.
///
/// Threads: any loading thread; not the rendering thread, as it may download.
SOLVOEARTHUTIL_EXPORT osg::Node* MyReadNodeFile(const std::string& path);

} // namespace SolvoEarthUtil
