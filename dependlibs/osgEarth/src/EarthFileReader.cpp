// The osgDB reader for ".earth" files, registered when the library loads, so that osgDB::readNodeFile("x.earth")
// works wherever the library is linked without looking for a separate plug-in.
#include "EarthFileReader.h"

#include <osgEarth/Config>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Registry>
#include <osgDB/fstream>

namespace osgEarth {
namespace detail {

namespace {

using ReadResult = osgDB::ReaderWriter::ReadResult;

ReadResult errorResult(ReadResult::ReadStatus status, const std::string& message)
{
    OSG_WARN << "[EarthFile] " << message << std::endl;
    ReadResult result(status);
    result.message() = message;
    return result;
}

class ReaderWriterEarth : public osgDB::ReaderWriter
{
public:
    ReaderWriterEarth() { supportsExtension("earth", "Globe map description (XML)"); }

    const char* className() const override { return "Earth file reader"; }

    ReadResult readObject(const std::string& fileName, const Options* options) const override
    {
        return readNode(fileName, options);
    }
    ReadResult readObject(std::istream& in, const Options* options) const override { return readNode(in, options); }

    ReadResult readNode(const std::string& fileName, const Options* options) const override
    {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(fileName)))
        {
            return ReadResult::FILE_NOT_HANDLED;
        }
        const std::string path = osgDB::findDataFile(fileName, options);
        if (path.empty() || osgDB::fileType(path) != osgDB::REGULAR_FILE)
        {
            return errorResult(ReadResult::FILE_NOT_FOUND, "earth file not found: " + fileName);
        }
        osgDB::ifstream in(path.c_str(), std::ios::in | std::ios::binary);
        if (!in)
        {
            return errorResult(ReadResult::ERROR_IN_READING_FILE, "cannot open earth file " + path);
        }
        return readEarthFile(in, osgDB::getRealPath(path));
    }

    ReadResult readNode(std::istream& in, const Options* options) const override
    {
        // A stream has no path of its own; the caller's database folder plays the file's folder.
        std::string referrer;
        if (options && !options->getDatabasePathList().empty() && !options->getDatabasePathList().front().empty())
        {
            referrer = options->getDatabasePathList().front() + "/";
        }
        return readEarthFile(in, referrer);
    }
};

osgDB::RegisterReaderWriterProxy<ReaderWriterEarth> g_earthReaderProxy;

} // namespace

void earthFileReaderLinked()
{}

ReadResult readEarthFile(std::istream& in, const std::string& referrer)
{
    Config document;
    std::string error;
    if (!document.fromXML(in, error))
    {
        const std::string where = referrer.empty() ? std::string("earth file") : "earth file " + referrer;
        return errorResult(ReadResult::ERROR_IN_READING_FILE, "malformed XML in " + where + ": " + error);
    }
    document.setReferrer(referrer);
    return buildMapNode(document);
}

} // namespace detail
} // namespace osgEarth
