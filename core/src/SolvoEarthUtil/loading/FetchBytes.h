#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osgDB/Options>
#include <osgDB/ReaderWriter>

#include <memory>
#include <string>

namespace SolvoEarthUtil {

/// The whole content of a file or a URL, held once in memory so that it can be parsed and
/// written to the file cache without a second read.
struct SOLVOEARTHUTIL_EXPORT FetchedBytes
{
    std::shared_ptr<const std::string> bytes; // null when nothing was fetched
    std::string mimeType;                     // the server's Content-Type; "" for files
    osgDB::ReaderWriter::ReadResult::ReadStatus status = osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED;
    std::string message; // why not, when nothing was fetched
};

/// Reads `path` whole: a URL with libcurl (credentials from the options' or the registry's
/// authentication map, a proxy from OSG_CURL_PROXY and OSG_CURL_PROXYPORT), else a local file.
/// FILE_NOT_FOUND for a missing file or a 4xx answer, ERROR_IN_READING_FILE for a 5xx answer
/// or a body that does not fit in memory, FILE_NOT_HANDLED when the transfer failed.
///
/// Threads: any thread; each call uses its own transfer.
SOLVOEARTHUTIL_EXPORT FetchedBytes fetchBytes(const std::string& path, const osgDB::Options* options);

} // namespace SolvoEarthUtil
