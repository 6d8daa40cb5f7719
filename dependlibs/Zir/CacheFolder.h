#pragma once

#include <string>

namespace zir {

/// The environment variable that names the cache folder outright (a project's own folder, say).
constexpr const char* kCacheFolderVariable = "VELTRA_CACHE_DIR";

/// The folder for the HTTP file cache. When VELTRA_CACHE_DIR is set (not empty) it is the only
/// candidate: that folder when it can be created and written, else "" (no cache), so that files
/// read for a project never land anywhere else. Otherwise `preferred` when it can be created and
/// written, else the user's cache folder ($XDG_CACHE_HOME/veltra, else ~/.cache/veltra) under the
/// same condition, else "".
std::string chooseCacheFolder(const std::string& preferred);

} // namespace zir
