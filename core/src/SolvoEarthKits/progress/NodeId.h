#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <string>

namespace SolvoEarthUtil {

/// The building element id carried in a geometry node's name, or -1 when it carries none:
/// the number after the last '[' when a ']' follows it at a distance ("Wall [1234]" gives 1234),
/// else the number after the last ':' ("Slab:77" gives 77). Numbers are read as atoi reads them;
/// one outside the int range, and -1 itself, count as no id.
SOLVOEARTHKITS_EXPORT int nodeIdFromName(const std::string& name);

} // namespace SolvoEarthUtil
