#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <string>

namespace SolvoEarthUtil {

/// Orders WBS codes component by component, each dot-separated component compared as its leading
/// decimal integer (atoi reading: leading blanks and one sign, no digits reads 0), a code that
/// runs out of components first being the smaller: "1.2" < "1.10" < "1.10.1", and "1.02" is the
/// same key as "1.2". Numbers beyond the range of long long saturate.
SOLVOEARTHKITS_EXPORT bool wbsLess(const std::string& a, const std::string& b);

/// wbsLess as a comparator type for ordered containers.
struct WbsLess
{
    bool operator()(const std::string& a, const std::string& b) const { return wbsLess(a, b); }
};

} // namespace SolvoEarthUtil
