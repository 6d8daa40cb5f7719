#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Node>

#include <string>

namespace SolvoEarthUtil {

/// Reads a model through the registry's file cache when one is set: a cached copy is read from
/// the cache, a fresh read is written to it. A ".zip" model is cached under the same path ending
/// in ".osgb". The caller takes over the returned node (its reference count is 0); null on failure.
SOLVOEARTHUTIL_EXPORT osg::Node* MyReadNodeFile(const std::string& path);

} // namespace SolvoEarthUtil
