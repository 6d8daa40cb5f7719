#include "StoreFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "registry/StoreFormat.h"

namespace FB::registry {

namespace {

Status systemFailure(const std::string& what, const std::string& path, int error)
{
    return Status::failure(Result::StoreUnavailable, what + " " + path + ": " + std::strerror(error));
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size())
    {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

StoreLock::~StoreLock()
{
    if (_fd >= 0)
        ::close(_fd); // closing the descriptor releases the flock
}

StoreLock::StoreLock(StoreLock&& other) noexcept : _fd(std::exchange(other._fd, -1))
{}

StoreLock& StoreLock::operator=(StoreLock&& other) noexcept
{
    if (this != &other)
    {
        if (_fd >= 0)
            ::close(_fd);
        _fd = std::exchange(other._fd, -1);
    }
    return *this;
}

Status StoreFile::lock(bool exclusive, StoreLock& lock) const
{
    lock = StoreLock();
    if (_path.empty())
        return Status::failure(Result::StoreUnavailable,
                               "no store file location (neither HOME nor XDG_CONFIG_HOME set?)");
    const std::filesystem::path folder = std::filesystem::path(_path).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error))
    {
        if (!exclusive)
            return Status::success();
        std::filesystem::create_directories(folder, error);
        if (error)
            return Status::failure(Result::StoreUnavailable,
                                   "cannot make the folder " + folder.string() + ": " + error.message());
    }
    const std::string lockPath = _path + ".lock";
    // A reader needs no write access to the lock file: flock works on a descriptor opened for reading, which lets
    // users read a machine store whose folder they may not write.
    int fd = exclusive ? -1 : ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        if (!exclusive && (errno == EACCES || errno == EROFS))
            return Status::success(); // a reader of a store it may not lock still reads the renamed-in file whole
        return systemFailure("cannot open the lock file", lockPath, errno);
    }
    int locked;
    do
        locked = ::flock(fd, exclusive ? LOCK_EX : LOCK_SH);
    while (locked < 0 && errno == EINTR);
    if (locked < 0)
    {
        const int saved = errno;
        ::close(fd);
        return systemFailure("cannot lock", lockPath, saved);
    }
    lock._fd = fd;
    return Status::success();
}

Status StoreFile::load(RegistryKey& root) const
{
    root = RegistryKey();
    const int fd = ::open(_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        if (errno == ENOENT)
            return Status::success();
        return systemFailure("cannot open", _path, errno);
    }
    std::string text;
    char buffer[65536];
    while (true)
    {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            const int saved = errno;
            ::close(fd);
            return systemFailure("cannot read", _path, saved);
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return readStoreText(text, _path, root);
}

Status StoreFile::save(const RegistryKey& root) const
{
    std::string temporary = _path + ".tmp.XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return systemFailure("cannot make a temporary file beside", _path, errno);
    const std::string text = writeStoreText(root);
    const bool written = ::fchmod(fd, _mode) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    const int saved = errno;
    if (::close(fd) != 0 || !written)
    {
        ::unlink(temporary.c_str());
        return systemFailure("cannot write", temporary, written ? errno : saved);
    }
    if (::rename(temporary.c_str(), _path.c_str()) != 0)
    {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        return systemFailure("cannot rename the new store over", _path, renameError);
    }
    // The rename is only durable once the folder's entry is on disk too.
    const std::string folder = std::filesystem::path(_path).parent_path().string();
    const int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0)
    {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return Status::success();
}

} // namespace FB::registry
