#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Object>
#include <osgDB/Options>

#include <string>

namespace osgDB {

/// Reads an object through the scene plug-in for the extension of `fileName`. When no reader
/// handles that extension yet, the library "MarloPlugin_" + extension is loaded first, under the
/// platform's library name (libMarloPlugin_PluginEarth.so for "x.PluginEarth" on Linux).
/// The caller owns the returned object; null on failure.
SOLVOEARTHUTIL_EXPORT osg::Object* readPluginFile(const std::string& fileName, const osgDB::Options* options);

} // namespace osgDB
