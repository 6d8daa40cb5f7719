#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osgDB/Options>

#include <sstream>
#include <string>

namespace SolvoEarthUtil {

/// Downloads `url` into `out` without time-outs. The outcome is not reported: on failure `out`
/// holds nothing, or what arrived before the failure.
SOLVOEARTHUTIL_EXPORT void readwebjosnfile(std::string url, std::stringstream& out, osgDB::Options* options);

} // namespace SolvoEarthUtil
