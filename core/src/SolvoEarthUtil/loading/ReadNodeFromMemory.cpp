#include <SolvoEarthUtil/loading/ReadNodeFromMemory.h>

#include <SolvoEarthUtil/http/EasyCurl.h>

#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <istream>
#include <streambuf>

namespace SolvoEarthUtil {

namespace {

// A read-only view of bytes as a stream: an istringstream would copy a model of hundreds of
// megabytes first. Readers look at a file's header and seek back, so seeking is supported.
class MemoryBuffer : public std::streambuf
{
public:
    MemoryBuffer(const char* data, size_t size)
    {
        char* begin = const_cast<char*>(data); // the get area is only read from
        setg(begin, begin, begin + size);
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir from, std::ios_base::openmode which) override
    {
        if (!(which & std::ios_base::in))
            return pos_type(off_type(-1));
        off_type target = offset;
        if (from == std::ios_base::cur)
            target += gptr() - eback();
        else if (from == std::ios_base::end)
            target += egptr() - eback();
        if (target < 0 || target > egptr() - eback())
            return pos_type(off_type(-1));
        setg(eback(), eback() + target, egptr());
        return pos_type(target);
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode which) override
    {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }
};

osgDB::ReaderWriter* readerFor(const std::string& extension, const std::string& mimeType)
{
    osgDB::Registry* registry = osgDB::Registry::instance();
    if (!extension.empty())
    {
        if (osgDB::ReaderWriter* reader = registry->getReaderWriterForExtension(extension))
            return reader;
    }
    if (mimeType.empty())
        return nullptr;
    // "model/x-osgb; charset=binary" names its type before the parameters.
    std::string type = mimeType.substr(0, mimeType.find(';'));
    type.erase(type.find_last_not_of(" \t") + 1);
    type.erase(0, type.find_first_not_of(" \t"));
    return registry->getReaderWriterForMimeType(type);
}

} // namespace

osgDB::ReaderWriter::ReadResult readNodeFromMemory(const std::string& bytes, const std::string& path,
                                                   const std::string& mimeType, const osgDB::Options* options)
{
    using ReadResult = osgDB::ReaderWriter::ReadResult;
    const std::string fileName = osgDB::containsServerAddress(path) ? EasyCurl::getFileNameFromURL(path) : path;
    const std::string extension = osgDB::getLowerCaseFileExtension(fileName);
    osgDB::ReaderWriter* reader = readerFor(extension, mimeType);
    if (!reader)
        return ReadResult(ReadResult::FILE_NOT_HANDLED);

    osg::ref_ptr<osgDB::Options> local = options ? options->cloneOptions() : new osgDB::Options;
    local->getDatabasePathList().push_front(osgDB::getFilePath(fileName));
    // What a reader would set for itself when given the file: the native formats take their
    // flavour from it, and wrappers (gzip) name the inner format by it.
    local->setPluginStringData("STREAM_FILENAME", osgDB::getSimpleFileName(fileName));
    if (extension == "osgt")
        local->setPluginStringData("fileType", "Ascii");
    else if (extension == "osgb")
        local->setPluginStringData("fileType", "Binary");
    else if (extension == "osgx")
        local->setPluginStringData("fileType", "XML");

    MemoryBuffer buffer(bytes.data(), bytes.size());
    std::istream in(&buffer);
    ReadResult result = reader->readNode(in, local.get());
    osgDB::Registry::instance()->_buildKdTreeIfRequired(result, options);
    return result;
}

} // namespace SolvoEarthUtil
