#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osgDB/Options>
#include <osgDB/ReaderWriter>

#include <string>

namespace SolvoEarthUtil {

/// Reads a model from `bytes` already in memory, as if from `path` (a file or a URL): the reader
/// is the one for the extension of its file name (a URL's "filename=" parameter counts), else
/// the one for `mimeType`; files the model refers to are looked for beside `path`; kd-trees are
/// built when the registry or `options` ask for them. The bytes are read in place, not copied,
/// and must outlive the call. FILE_NOT_HANDLED when no reader is found or the reader does not
/// recognise the bytes, NOT_IMPLEMENTED when the reader can only read files.
SOLVOEARTHUTIL_EXPORT osgDB::ReaderWriter::ReadResult readNodeFromMemory(const std::string& bytes,
                                                                         const std::string& path,
                                                                         const std::string& mimeType,
                                                                         const osgDB::Options* options);

} // namespace SolvoEarthUtil
