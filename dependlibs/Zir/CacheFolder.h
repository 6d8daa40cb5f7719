#pragma once

#include <string>

namespace zir {

/// The folder for the HTTP file cache: `preferred` when it can be created and written, else the
/// user's cache folder ($XDG_CACHE_HOME/veltra, else ~/.cache/veltra) under the same condition.
/// "" when none of them can be written.
std::string chooseCacheFolder(const std::string& preferred);

} // namespace zir
