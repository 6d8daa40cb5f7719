#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <memory>
#include <string>

namespace SolvoEarthUtil {

// Writes file cache entries on a thread of its own, so that a load does not wait for the disk.
// Each entry goes to a temporary name beside its place and is renamed into it when complete:
// the cache never shows a partial file, also to other processes sharing the folder. Until the
// rename, pendingCacheFile hands out the bytes being written, so a second load of the same model
// needs neither the network nor the half-written file.
//
// Threads: any thread may call these; one mutex guards the queue and the pending entries.
// Writes still queued when the process ends are finished before it exits.

/// Writes `bytes` to `cacheFile` (its folders are made) after the writes queued before it.
SOLVOEARTHUTIL_EXPORT void writeCacheFileLater(const std::string& cacheFile, std::shared_ptr<const std::string> bytes);

/// The bytes queued for `cacheFile` and not yet in place; null when none are.
SOLVOEARTHUTIL_EXPORT std::shared_ptr<const std::string> pendingCacheFile(const std::string& cacheFile);

/// Blocks until every write queued so far has finished (or failed, which is logged).
SOLVOEARTHUTIL_EXPORT void waitForCacheWrites();

} // namespace SolvoEarthUtil
