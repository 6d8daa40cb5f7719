#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Referenced>
#include <osgDB/Options>
#include <osgDB/ReaderWriter>

#include <fstream>
#include <iosfwd>
#include <memory>
#include <string>

namespace SolvoEarthUtil {

/// Fetches one URL with libcurl and reports the outcome as an osgDB read result.
/// One instance holds one libcurl handle and is used by one thread at a time.
class SOLVOEARTHUTIL_EXPORT EasyCurl : public osg::Referenced
{
public:
    /// The sink of one transfer: the body goes to an output stream and, optionally, a cache file.
    struct SOLVOEARTHUTIL_EXPORT StreamObject
    {
        /// `input` is accepted for symmetry with the output and never used.
        StreamObject(std::ostream* output, std::istream* input, const std::string& cachePath);
        /// Collects the body in `body` (not owned), sized once from the announced length: a large
        /// model is then held once, with no copy out of a stream.
        explicit StreamObject(std::string* body);

        /// Passes one block of body bytes on; opens the cache file on the first block. False
        /// only when the body string cannot grow any more.
        bool write(const char* data, size_t size);

        std::ostream* outputStream;
        std::istream* inputStream;
        bool cacheFileOpened;
        std::string cacheFileName;
        std::ofstream cacheFile;
        std::string resultMimeType;
        std::string* outputString = nullptr;
        bool outOfMemory = false;       // set when the body string could not grow; the transfer stops
        long long announcedLength = -1; // the body's Content-Length when the server gave one
    };

    EasyCurl();

    /// Time-outs in seconds, applied at the next read; 0 means none.
    void setConnectionTimeout(long seconds) { connectTimeout = seconds; }
    void setTimeout(long seconds) { timeout = seconds; }

    /// Performs the transfer. Never throws for transfer problems: the result's status and
    /// message tell FILE_LOADED, FILE_NOT_FOUND (4xx), ERROR_IN_READING_FILE (5xx) or
    /// FILE_NOT_HANDLED (libcurl could not complete the transfer).
    osgDB::ReaderWriter::ReadResult read(const std::string& proxyAddress, const std::string& url, StreamObject& sink,
                                         const osgDB::Options* options);

    /// libcurl's write callback: hands every block to the sink. It aborts the transfer only when
    /// a body string sink runs out of memory (read then reports ERROR_IN_READING_FILE).
    static size_t StreamMemoryCallback(void* data, size_t size, size_t count, void* sink);

    /// The "filename=" query parameter of `url` when there is one, else `url` without its query.
    static std::string getFileNameFromURL(const std::string& url);

    /// The first MIME type (in key order) that the registry maps to exactly `ext`,
    /// or "application/octet-stream".
    static std::string getMimeTypeForExtension(const std::string& ext);

    /// The Content-Type of the transfer that filled `sink`; empty before a successful one.
    static std::string getResultMimeType(const StreamObject& sink) { return sink.resultMimeType; }

protected:
    ~EasyCurl() override;

    void setOptions(const std::string& proxyAddress, const std::string& url, StreamObject& sink,
                    const osgDB::Options* options);
    osgDB::ReaderWriter::ReadResult processResponse(int code, const std::string& proxyAddress, const std::string& url,
                                                    StreamObject& sink);

private:
    EasyCurl(const EasyCurl&) = delete;
    EasyCurl& operator=(const EasyCurl&) = delete;

    struct CurlCleanup
    {
        void operator()(void* handle) const;
    };

    std::unique_ptr<void, CurlCleanup> _curl;
    std::string previousPassword;        // "user:password" last handed to libcurl, empty when none
    long previousHttpAuthentication = 0; // authentication mask last handed to libcurl, 0 when none
    long connectTimeout = 0;
    long timeout = 0;
};

} // namespace SolvoEarthUtil
