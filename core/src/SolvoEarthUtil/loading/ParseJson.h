#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <json/value.h>

#include <istream>
#include <string>

namespace SolvoEarthUtil {

/// Parses a JSON document into `root`. jsoncpp's reader throws rather than fails for some input
/// (nesting past its depth limit, a stream that cannot be read such as one over a folder); that
/// gives false here like any text that does not parse. `root` holds what the reader left.
SOLVOEARTHUTIL_EXPORT bool parseJson(std::istream& in, Json::Value& root, bool collectComments);
SOLVOEARTHUTIL_EXPORT bool parseJson(const std::string& text, Json::Value& root, bool collectComments);

} // namespace SolvoEarthUtil
