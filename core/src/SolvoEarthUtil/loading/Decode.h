#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <string>

namespace SolvoEarthUtil {

/// Decodes URL-encoded text from the page: '+' becomes a blank and "%XY" one byte.
/// Only '0'..'?' and 'A'..'F' count as hex digits here, so "%2f" loses its '%' and keeps "2f";
/// a '%' not followed by two such characters is dropped, a trailing '%' is kept.
SOLVOEARTHUTIL_EXPORT std::string decode(const std::string& text);

} // namespace SolvoEarthUtil
