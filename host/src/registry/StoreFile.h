#pragma once

#include <string>
#include <sys/types.h>

#include "registry/RegistryKey.h"
#include "registry/RegistryStatus.h"

namespace FB::registry {

/// A lock on a store, held by flock on "<store>.lock" beside it until the object goes. Other processes, and other
/// StoreFile objects of this one, wait for it.
class StoreLock
{
public:
    StoreLock() = default;
    ~StoreLock();
    StoreLock(StoreLock&& other) noexcept;
    StoreLock& operator=(StoreLock&& other) noexcept;
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    friend class StoreFile;
    int _fd = -1;
};

/// One store file: reading it under a lock, and writing it whole through a temporary file in the same folder that is
/// flushed to disk and renamed over it, so that readers see the old or the new file and never a part of one.
class StoreFile
{
public:
    /// `mode` is the permission the file gets when written.
    StoreFile(std::string path, mode_t mode) : _path(std::move(path)), _mode(mode) {}

    const std::string& path() const { return _path; }

    /// Takes the lock, shared for reading or exclusive for a change; the exclusive lock makes the folder when missing.
    /// A shared lock on a store whose folder does not exist is granted without a lock file: there is nothing to read.
    Status lock(bool exclusive, StoreLock& lock) const;
    /// Reads the file into `root`; a missing file is an empty store. Damage gives StoreDamaged with file and line.
    Status load(RegistryKey& root) const;
    /// Replaces the file with `root`'s keys. Call with the exclusive lock held.
    Status save(const RegistryKey& root) const;

private:
    std::string _path;
    mode_t _mode;
};

} // namespace FB::registry
