#include <SolvoEarthUtil/http/EasyCurl.h>

#include <osg/Notify>
#include <osgDB/AuthenticationMap>
#include <osgDB/Registry>

#include <curl/curl.h>

#include <cctype>
#include <cstdlib>
#include <ostream>

namespace SolvoEarthUtil {

namespace {

// Notes the Content-Length of the response the body will come from; a redirect's own headers
// come first, and a new status line forgets them.
size_t headerCallback(char* data, size_t size, size_t count, void* sink)
{
    const size_t realSize = size * count;
    auto* stream = static_cast<EasyCurl::StreamObject*>(sink);
    if (!stream)
        return realSize;
    const std::string line(data, realSize);
    if (line.compare(0, 5, "HTTP/") == 0)
    {
        stream->announcedLength = -1;
        return realSize;
    }
    static const std::string name = "content-length:";
    if (line.size() <= name.size())
        return realSize;
    for (size_t i = 0; i < name.size(); ++i)
    {
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
            return realSize;
    }
    char* end = nullptr;
    const long long length = std::strtoll(line.c_str() + name.size(), &end, 10);
    stream->announcedLength = end != line.c_str() + name.size() && length >= 0 ? length : -1;
    return realSize;
}

} // namespace

EasyCurl::StreamObject::StreamObject(std::ostream* output, std::istream* /*input*/, const std::string& cachePath)
    : outputStream(output), inputStream(nullptr), cacheFileOpened(false), cacheFileName(cachePath)
{}

EasyCurl::StreamObject::StreamObject(std::string* body)
    : outputStream(nullptr), inputStream(nullptr), cacheFileOpened(false), outputString(body)
{}

bool EasyCurl::StreamObject::write(const char* data, size_t size)
{
    if (outputStream)
        outputStream->write(data, static_cast<std::streamsize>(size));
    if (outputString)
    {
        try
        {
            // Growing by doubling would copy a model of hundreds of megabytes several times over.
            if (outputString->empty() && announcedLength > 0 &&
                static_cast<unsigned long long>(announcedLength) < outputString->max_size())
                outputString->reserve(static_cast<size_t>(announcedLength));
            outputString->append(data, size);
        }
        catch (const std::exception&)
        {
            outOfMemory = true;
            return false;
        }
    }

    if (cacheFileName.empty())
        return true;

    if (!cacheFileOpened)
    {
        OSG_INFO << "Writing to cache: " << cacheFileName << std::endl;
        cacheFile.open(cacheFileName.c_str(), std::ios::out | std::ios::binary | std::ios::trunc);
        cacheFileOpened = true;
    }
    // A cache file that could not be opened is skipped; the output stream still gets the body.
    if (cacheFile.good())
        cacheFile.write(data, static_cast<std::streamsize>(size));
    return true;
}

void EasyCurl::CurlCleanup::operator()(void* handle) const
{
    curl_easy_cleanup(static_cast<CURL*>(handle));
}

EasyCurl::EasyCurl()
{
    OSG_INFO << "EasyCurl::EasyCurl()" << std::endl;
    _curl.reset(curl_easy_init());
    if (CURL* curl = static_cast<CURL*>(_curl.get()))
    {
        curl_easy_setopt(curl, CURLOPT_USERAGENT, "libcurl-agent/1.0");
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &EasyCurl::StreamMemoryCallback);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &headerCallback);
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    }
}

EasyCurl::~EasyCurl()
{
    OSG_INFO << "EasyCurl::~EasyCurl()" << std::endl;
}

size_t EasyCurl::StreamMemoryCallback(void* data, size_t size, size_t count, void* sink)
{
    const size_t realSize = size * count;
    if (sink && realSize > 0 && !static_cast<StreamObject*>(sink)->write(static_cast<const char*>(data), realSize))
        return 0;
    return realSize;
}

osgDB::ReaderWriter::ReadResult EasyCurl::read(const std::string& proxyAddress, const std::string& url,
                                               StreamObject& sink, const osgDB::Options* options)
{
    CURL* curl = static_cast<CURL*>(_curl.get());
    if (!curl)
        return processResponse(CURLE_FAILED_INIT, proxyAddress, url, sink);

    setOptions(proxyAddress, url, sink, options);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
    return processResponse(code, proxyAddress, url, sink);
}

void EasyCurl::setOptions(const std::string& proxyAddress, const std::string& url, StreamObject& sink,
                          const osgDB::Options* options)
{
    CURL* curl = static_cast<CURL*>(_curl.get());

    const osgDB::AuthenticationMap* authenticationMap = (options && options->getAuthenticationMap())
                                                            ? options->getAuthenticationMap()
                                                            : osgDB::Registry::instance()->getAuthenticationMap();

    // Always handed over, so that going back to 0 lifts a time-out set for an earlier transfer
    // (0 is libcurl's own "no time-out" / default connect time-out).
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeout > 0 ? connectTimeout : 0L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeout > 0 ? timeout : 0L);

    if (!proxyAddress.empty())
    {
        OSG_INFO << "Setting proxy: " << proxyAddress << std::endl;
        curl_easy_setopt(curl, CURLOPT_PROXY, proxyAddress.c_str());
    }

    const osgDB::AuthenticationDetails* details =
        authenticationMap ? authenticationMap->getAuthenticationDetails(url) : nullptr;
    if (details)
    {
        previousPassword = details->username + ":" + details->password;
        curl_easy_setopt(curl, CURLOPT_USERPWD, previousPassword.c_str());
        const long mask = static_cast<long>(details->httpAuthentication);
        if (mask != previousHttpAuthentication)
        {
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, mask);
            previousHttpAuthentication = mask;
        }
    }
    else
    {
        if (!previousPassword.empty())
        {
            curl_easy_setopt(curl, CURLOPT_USERPWD, static_cast<const char*>(nullptr));
            previousPassword.clear();
        }
        if (previousHttpAuthentication != 0)
        {
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, 0L);
            previousHttpAuthentication = 0;
        }
    }

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, static_cast<void*>(&sink));
}

osgDB::ReaderWriter::ReadResult EasyCurl::processResponse(int code, const std::string& proxyAddress,
                                                          const std::string& url, StreamObject& sink)
{
    using ReadResult = osgDB::ReaderWriter::ReadResult;

    if (sink.outOfMemory)
    {
        OSG_WARN << "EasyCurl: the body of " << url << " does not fit in memory" << std::endl;
        ReadResult result(ReadResult::ERROR_IN_READING_FILE);
        result.message() = "out of memory";
        return result;
    }
    if (code != CURLE_OK)
    {
        OSG_NOTICE << "Error: libcurl read error, file=" << url
                   << " error = " << curl_easy_strerror(static_cast<CURLcode>(code)) << std::endl;
        return ReadResult(ReadResult::FILE_NOT_HANDLED);
    }

    CURL* curl = static_cast<CURL*>(_curl.get());
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (!proxyAddress.empty())
    {
        // A refused tunnel is the proxy's answer; otherwise the server's own status counts, so a
        // missing file behind a proxy is not reported as loaded.
        long connectStatus = 0;
        curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
        if (connectStatus >= 400)
            status = connectStatus;
    }

    if (status >= 400)
    {
        ReadResult result(status < 500 ? ReadResult::FILE_NOT_FOUND : ReadResult::ERROR_IN_READING_FILE);
        result.message() = "error code = " + std::to_string(status);
        return result;
    }

    char* contentType = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType)
        sink.resultMimeType = contentType;
    return ReadResult(ReadResult::FILE_LOADED);
}

std::string EasyCurl::getFileNameFromURL(const std::string& url)
{
    const std::string::size_type question = url.find('?');
    if (question == std::string::npos)
        return url;

    const std::string params = url.substr(question + 1);
    static const std::string key = "filename=";
    const std::string::size_type start = params.find(key);
    if (start == std::string::npos)
        return url.substr(0, question);

    const std::string::size_type valueStart = start + key.size();
    const std::string::size_type end = params.find('&', valueStart);
    return params.substr(valueStart, end == std::string::npos ? std::string::npos : end - valueStart);
}

std::string EasyCurl::getMimeTypeForExtension(const std::string& ext)
{
    for (const auto& [mimeType, extension] : osgDB::Registry::instance()->getMimeTypeExtensionMap())
    {
        if (extension == ext)
            return mimeType;
    }
    return "application/octet-stream";
}

} // namespace SolvoEarthUtil
