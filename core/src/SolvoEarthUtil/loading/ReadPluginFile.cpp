#include <SolvoEarthUtil/loading/ReadPluginFile.h>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

namespace osgDB {

osg::Object* readPluginFile(const std::string& fileName, const osgDB::Options* options)
{
    Registry* registry = Registry::instance();
    const std::string ext = getFileExtension(fileName);

    if (!registry->getReaderWriterForExtension(ext))
        registry->loadLibrary(registry->createLibraryNameForNodeKit("MarloPlugin_" + ext));

    ReaderWriter::ReadResult result = registry->readObject(fileName, options, true);
    if (result.validObject())
        return result.takeObject();

    if (result.status() == ReaderWriter::ReadResult::ERROR_IN_READING_FILE && osg::isNotifyEnabled(osg::WARN))
        osg::notify(osg::WARN) << result.message() << std::endl;
    return nullptr;
}

} // namespace osgDB
