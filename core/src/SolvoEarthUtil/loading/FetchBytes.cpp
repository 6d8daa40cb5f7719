#include <SolvoEarthUtil/loading/FetchBytes.h>

#include <SolvoEarthUtil/http/EasyCurl.h>

#include <osgDB/FileNameUtils>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace SolvoEarthUtil {

namespace {

using ReadResult = osgDB::ReaderWriter::ReadResult;

// The proxy the registry's own HTTP reader would use, so that both reach the same servers.
std::string proxyAddress()
{
    const char* host = std::getenv("OSG_CURL_PROXY");
    if (!host || !*host)
        return {};
    const char* port = std::getenv("OSG_CURL_PROXYPORT");
    return port && *port ? std::string(host) + ":" + port : std::string(host);
}

FetchedBytes fetchUrl(const std::string& url, const osgDB::Options* options)
{
    FetchedBytes fetched;
    auto body = std::make_shared<std::string>();
    EasyCurl::StreamObject sink(body.get());
    osg::ref_ptr<EasyCurl> curl = new EasyCurl;
    const ReadResult result = curl->read(proxyAddress(), url, sink, options);
    fetched.status = result.status();
    if (result.status() != ReadResult::FILE_LOADED)
    {
        fetched.message = result.message().empty() ? "the download failed" : result.message();
        return fetched;
    }
    fetched.mimeType = EasyCurl::getResultMimeType(sink);
    fetched.bytes = std::move(body);
    return fetched;
}

FetchedBytes fetchFile(const std::string& path)
{
    FetchedBytes fetched;
    std::error_code error;
    std::ifstream in;
    if (std::filesystem::is_regular_file(path, error))
        in.open(path, std::ios::binary | std::ios::ate);
    if (!in.is_open())
    {
        fetched.status = ReadResult::FILE_NOT_FOUND;
        fetched.message = "cannot open " + path;
        return fetched;
    }
    const std::streamoff size = in.tellg();
    auto body = std::make_shared<std::string>();
    try
    {
        body->resize(size > 0 ? static_cast<size_t>(size) : 0);
    }
    catch (const std::exception&)
    {
        fetched.status = ReadResult::ERROR_IN_READING_FILE;
        fetched.message = path + " does not fit in memory";
        return fetched;
    }
    in.seekg(0);
    if (size < 0 || !in.read(body->data(), static_cast<std::streamsize>(body->size())))
    {
        fetched.status = ReadResult::ERROR_IN_READING_FILE;
        fetched.message = "cannot read " + path;
        return fetched;
    }
    fetched.status = ReadResult::FILE_LOADED;
    fetched.bytes = std::move(body);
    return fetched;
}

} // namespace

FetchedBytes fetchBytes(const std::string& path, const osgDB::Options* options)
{
    return osgDB::containsServerAddress(path) ? fetchUrl(path, options) : fetchFile(path);
}

} // namespace SolvoEarthUtil
