#include <PluginEarth/PluginEarth.h>

#include <osgDB/FileNameUtils>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <string>

namespace {

/// Hands out earth plug-ins by file extension: reading any "<name>.PluginEarth" (the name is not looked at, and no
/// file is opened) gives a new PluginEarth, so the plug-in can be loaded by name like any other scene plug-in.
class ReaderPluginEarth : public osgDB::ReaderWriter
{
public:
    ReaderPluginEarth() { supportsExtension("PluginEarth", "File system cache for osgEarth"); }

    const char* className() const override { return "ReaderPluginEarth"; }

    ReadResult readObject(const std::string& fileName, const Options* = nullptr) const override
    {
        // The base keeps declared extensions in lower case, so this accepts "PluginEarth" in any letter case.
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(fileName)))
            return ReadResult::FILE_NOT_HANDLED;
        return ReadResult(new PluginEarth, ReadResult::FILE_LOADED);
    }
};

// Registers the reader while the library is loaded (when a registry exists) and takes it out again on unloading.
osgDB::RegisterReaderWriterProxy<ReaderPluginEarth> g_readerPluginEarth;

} // namespace
