#pragma once

// Private to the library: the earth-file reader's entry points shared between its sources.

#include <osgDB/ReaderWriter>

#include <istream>
#include <string>

namespace osgEarth {

class Config;

namespace detail {

/// Does nothing; calling it keeps the reader's registration object in every link of the library.
void earthFileReaderLinked();

/// Builds a MapNode from an earth file's XML read from `in`; relative paths in it resolve against `referrer` (the
/// file's path, or a folder followed by a separator). Errors come back as an error result with a message.
osgDB::ReaderWriter::ReadResult readEarthFile(std::istream& in, const std::string& referrer);

/// Builds a MapNode from an earth document already parsed into a Config (the keyless document Config).
osgDB::ReaderWriter::ReadResult buildMapNode(const Config& document);

} // namespace detail
} // namespace osgEarth
