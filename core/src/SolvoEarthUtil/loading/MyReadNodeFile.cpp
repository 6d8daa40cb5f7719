#include <SolvoEarthUtil/loading/MyReadNodeFile.h>

#include <osgDB/FileCache>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace SolvoEarthUtil {

osg::Node* MyReadNodeFile(const std::string& path)
{
    osgDB::Registry* registry = osgDB::Registry::instance();
    const osgDB::Options* options = registry->getOptions();
    osgDB::FileCache* cache = registry->getFileCache();
    if (!cache)
        return osgDB::readRefNodeFile(path, options).release();

    // Zip archives are cached as the model they contain, in the native binary format.
    const std::string key = osgDB::convertToLowerCase(osgDB::getFileExtension(path)) == "zip"
                                ? osgDB::getNameLessExtension(path) + ".osgb"
                                : path;

    osg::ref_ptr<osg::Node> node;
    if (cache->existsInCache(key))
    {
        node = cache->readNode(key, options, true).getNode();
    }
    else
    {
        node = osgDB::readRefNodeFile(path, options);
        if (node)
            cache->writeNode(*node, key, options);
    }
    return node.release();
}

} // namespace SolvoEarthUtil
