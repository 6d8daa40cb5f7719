#include <SolvoEarthKits/loading/MyReadFileCallback.h>

#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

using osgDB::ReaderWriter;

MyReadFileCallback::MyReadFileCallback(const MyReadFileCallback& other) : osg::Referenced(), osgDB::ReadFileCallback()
{
    std::lock_guard<std::mutex> lock(other._cacheMutex);
    _imageCache = other._imageCache;
}

MyReadFileCallback& MyReadFileCallback::operator=(const MyReadFileCallback& other)
{
    if (this != &other)
    {
        std::scoped_lock lock(_cacheMutex, other._cacheMutex);
        _imageCache = other._imageCache;
    }
    return *this;
}

ReaderWriter::ReadResult MyReadFileCallback::openArchive(const std::string& fileName,
                                                         ReaderWriter::ArchiveStatus status,
                                                         unsigned int indexBlockSizeHint, const osgDB::Options* options)
{
    return osgDB::Registry::instance()->openArchiveImplementation(fileName, status, indexBlockSizeHint, options);
}

ReaderWriter::ReadResult MyReadFileCallback::readObject(const std::string& fileName, const osgDB::Options* options)
{
    return osgDB::Registry::instance()->readObjectImplementation(fileName, options);
}

ReaderWriter::ReadResult MyReadFileCallback::readImage(const std::string& fileName, const osgDB::Options* options)
{
    osgDB::Registry* registry = osgDB::Registry::instance();
    ReaderWriter::ReadResult rr = registry->readImageImplementation(fileName, options);
    // Only a miss falls back to the servers; a local read error is reported as it is.
    if (rr.status() != ReaderWriter::ReadResult::FILE_NOT_HANDLED &&
        rr.status() != ReaderWriter::ReadResult::FILE_NOT_FOUND)
        return rr;

    // Textures are published next to their model, so only the last component of the name counts.
    const std::string simpleName = osgDB::getSimpleFileName(fileName);
    // A copy: the host may change the list while this thread waits on a download.
    const osgDB::FilePathList paths = registry->getDataFilePathList();
    for (const std::string& path : paths)
    {
        if (!osgDB::containsServerAddress(path))
            continue;
        std::string url = path;
        if (url.empty() || url.back() != '/')
            url += '/';
        url += simpleName;

        {
            std::lock_guard<std::mutex> lock(_cacheMutex);
            auto cached = _imageCache.find(url);
            if (cached != _imageCache.end())
                return ReaderWriter::ReadResult(cached->second.get(), ReaderWriter::ReadResult::FILE_LOADED_FROM_CACHE);
        }

        ReaderWriter* reader = registry->getReaderWriterForProtocolAndExtension(osgDB::getServerProtocol(url),
                                                                                osgDB::getFileExtension(url));
        if (!reader)
            return ReaderWriter::ReadResult("Warning: Could not find the .curl plugin to read from server.");

        // The download runs without the lock so that other threads' reads are not held up by it.
        ReaderWriter::ReadResult fetched = reader->readImage(url, options);
        if (osg::Image* image = fetched.getImage())
        {
            image->setWriteHint(osg::Image::EXTERNAL_FILE);
            std::lock_guard<std::mutex> lock(_cacheMutex);
            _imageCache[url] = image;
            return fetched;
        }
    }
    return rr;
}

ReaderWriter::ReadResult MyReadFileCallback::readHeightField(const std::string& fileName, const osgDB::Options* options)
{
    return osgDB::Registry::instance()->readHeightFieldImplementation(fileName, options);
}

ReaderWriter::ReadResult MyReadFileCallback::readNode(const std::string& fileName, const osgDB::Options* options)
{
    return osgDB::Registry::instance()->readNodeImplementation(fileName, options);
}

ReaderWriter::ReadResult MyReadFileCallback::readShader(const std::string& fileName, const osgDB::Options* options)
{
    return osgDB::Registry::instance()->readShaderImplementation(fileName, options);
}
