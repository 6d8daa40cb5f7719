#include <SolvoEarthUtil/loading/MyReadNodeFile.h>

#include <SolvoEarthUtil/loading/BundledReaders.h>
#include <SolvoEarthUtil/loading/CacheWrites.h>
#include <SolvoEarthUtil/loading/FetchBytes.h>
#include <SolvoEarthUtil/loading/ReadNodeFromMemory.h>
#include <SolvoEarthUtil/loading/PrepareModel.h>

#include <osg/Notify>
#include <osgDB/FileCache>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <sstream>

namespace SolvoEarthUtil {

namespace {

using ReadResult = osgDB::ReaderWriter::ReadResult;

// `node` in the format of `key`'s extension, in memory; null when that writer cannot write to a
// stream. Done before the model is handed over, as the frames may change it afterwards.
std::shared_ptr<const std::string> serialize(const osg::Node& node, const std::string& key,
                                             const osgDB::Options* options)
{
    const std::string extension = osgDB::getLowerCaseFileExtension(key);
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension(extension);
    if (!writer)
        return nullptr;
    osg::ref_ptr<osgDB::Options> local = options ? options->cloneOptions() : new osgDB::Options;
    if (extension == "osgt")
        local->setPluginStringData("fileType", "Ascii");
    else if (extension == "osgx")
        local->setPluginStringData("fileType", "XML");
    std::ostringstream out(std::ios::out | std::ios::binary);
    if (!writer->writeNode(node, out, local.get()).success())
        return nullptr;
    return std::make_shared<const std::string>(out.str());
}

// A cache entry is only worth writing when the registry can read it back by its name.
bool readableByName(const std::string& key)
{
    return osgDB::Registry::instance()->getReaderWriterForExtension(osgDB::getLowerCaseFileExtension(key)) != nullptr;
}

// What a cache entry holds: the model file's own bytes, or the model as read, in the format of
// the entry's name (".osgb").
enum class CacheEntryForm
{
    Bytes,
    Model,
};

// The entry holds the model's images too: a converted model's textures came from inside its file
// (embedded glTF images) or beside it, where a reader of the cache entry would not look.
void cacheModel(osgDB::FileCache& cache, const osg::Node& node, const std::string& key, const std::string& cacheFile,
                const osgDB::Options* options)
{
    osg::ref_ptr<osgDB::Options> local = options ? options->cloneOptions() : new osgDB::Options;
    local->setOptionString(local->getOptionString() + " WriteImageHint=IncludeData");
    if (std::shared_ptr<const std::string> bytes = serialize(node, key, local.get()))
        writeCacheFileLater(cacheFile, std::move(bytes));
    else
        cache.writeNode(node, key, local.get());
}

// Reads `path` once, hands the model over, and leaves its bytes (or the model's, see
// CacheEntryForm) to be written to the cache beside the load. Models that cannot be read from
// memory (archives, formats whose readers read files only, files found through the search paths)
// are read by the registry.
osg::ref_ptr<osg::Node> readAndCache(osgDB::FileCache& cache, const std::string& path, const std::string& key,
                                     const std::string& cacheFile, bool fromMemory, CacheEntryForm form,
                                     const osgDB::Options* options)
{
    std::shared_ptr<const std::string> bytes;
    if (fromMemory)
    {
        FetchedBytes fetched = fetchBytes(path, options);
        if (fetched.bytes)
        {
            ReadResult read = readNodeFromMemory(*fetched.bytes, path, fetched.mimeType, options);
            if (read.validNode())
            {
                if (readableByName(key))
                {
                    if (form == CacheEntryForm::Bytes)
                        writeCacheFileLater(cacheFile, fetched.bytes);
                    else
                        cacheModel(cache, *read.getNode(), key, cacheFile, options);
                }
                return read.getNode();
            }
            if (read.status() != ReadResult::NOT_IMPLEMENTED)
            {
                OSG_WARN << "MyReadNodeFile: cannot read " << path
                         << (read.message().empty() ? std::string() : ": " + read.message()) << std::endl;
                return nullptr;
            }
            // The reader reads files only: the registry gives it one, and the bytes go to the cache.
            if (form == CacheEntryForm::Bytes)
                bytes = std::move(fetched.bytes);
        }
        else if (osgDB::containsServerAddress(path))
        {
            // The server has been asked; asking it again through the registry would not help.
            OSG_WARN << "MyReadNodeFile: cannot fetch " << path << ": " << fetched.message << std::endl;
            return nullptr;
        }
    }

    osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(path, options);
    if (!node || !readableByName(key))
        return node;
    if (form == CacheEntryForm::Model)
    {
        cacheModel(cache, *node, key, cacheFile, options);
        return node;
    }
    if (!bytes)
        bytes = serialize(*node, key, options);
    if (bytes)
        writeCacheFileLater(cacheFile, bytes);
    else
        cache.writeNode(*node, key, options);
    return node;
}

// Formats whose reading is a conversion (tessellating an IFC model, decoding glTF buffers): the
// cache keeps the model they make, which reads back far faster than converting again.
bool cachedAsConvertedModel(const std::string& extension)
{
    return extension == "ifc" || extension == "gltf" || extension == "glb";
}

// Parsed from memory where the reader allows it: the native binary reader seeks back and forth
// within the file, which on a file stream is a system call each time.
osg::ref_ptr<osg::Node> readCacheEntry(osgDB::FileCache& cache, const std::string& key, const std::string& cacheFile,
                                       const osgDB::Options* options)
{
    const FetchedBytes fetched = fetchBytes(cacheFile, options);
    if (!fetched.bytes)
        return nullptr;
    ReadResult read = readNodeFromMemory(*fetched.bytes, cacheFile, std::string(), options);
    if (read.status() == ReadResult::NOT_IMPLEMENTED)
        read = cache.readNode(key, options, true);
    return read.getNode();
}

} // namespace

osg::Node* MyReadNodeFile(const std::string& path)
{
    useBundledReaders();
    osgDB::Registry* registry = osgDB::Registry::instance();
    const osgDB::Options* options = registry->getOptions();
    osg::ref_ptr<osgDB::FileCache> cache = registry->getFileCache();
    osg::ref_ptr<osg::Node> node;
    if (!cache)
    {
        node = osgDB::readRefNodeFile(path, options);
    }
    else
    {
        // Zip archives are cached as the model they contain, in the native binary format; converted
        // formats as the model they make, under their own path with ".osgb" added.
        const std::string extension = osgDB::convertToLowerCase(osgDB::getFileExtension(path));
        const bool zip = extension == "zip";
        const bool converted = cachedAsConvertedModel(extension);
        const std::string key = zip ? osgDB::getNameLessExtension(path) + ".osgb" : converted ? path + ".osgb" : path;
        const std::string cacheFile = cache->createCacheFileName(key);

        // Bytes still on their way to the cache are the entry: the file is not complete yet.
        if (std::shared_ptr<const std::string> pending = pendingCacheFile(cacheFile))
            node = readNodeFromMemory(*pending, key, std::string(), options).getNode();
        else if (cache->existsInCache(key))
        {
            node = readCacheEntry(*cache, key, cacheFile, options);
            if (!node)
                OSG_WARN << "MyReadNodeFile: the cache entry " << cacheFile << " is unreadable; reading " << path
                         << " again" << std::endl;
        }
        if (!node)
            node = readAndCache(*cache, path, key, cacheFile, !zip,
                                zip || converted ? CacheEntryForm::Model : CacheEntryForm::Bytes, options);
    }
    prepareLoadedModel(node);
    return node.release();
}

} // namespace SolvoEarthUtil
