#include "CacheFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace zir {

namespace {

// Creating the folder is not enough: a folder that exists but belongs to root would accept
// nothing, so a probe file is written and removed again.
bool isWritableFolder(const std::filesystem::path& folder)
{
    if (folder.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error))
        return false;
    const std::filesystem::path probe = folder / ".veltra-write-probe";
    {
        std::ofstream out(probe);
        if (!out || !(out << 'x') || !out.flush())
            return false;
    }
    std::filesystem::remove(probe, error);
    return true;
}

std::filesystem::path userCacheFolder()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    // The base directory rules say a relative XDG_CACHE_HOME is to be ignored.
    if (xdg && *xdg == '/')
        return std::filesystem::path(xdg) / "veltra";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::filesystem::path(home) / ".cache" / "veltra";
    return {};
}

} // namespace

std::string chooseCacheFolder(const std::string& preferred)
{
    const char* named = std::getenv(kCacheFolderVariable);
    if (named && *named)
        return isWritableFolder(named) ? std::string(named) : std::string();
    if (!preferred.empty() && isWritableFolder(preferred))
        return preferred;
    const std::filesystem::path fallback = userCacheFolder();
    if (isWritableFolder(fallback))
        return fallback.string();
    return {};
}

} // namespace zir
