#include <SolvoEarthUtil/loading/CacheWrites.h>

#include <osg/Notify>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace SolvoEarthUtil {

namespace {

// Renamed into place only when every byte is on disk: a reader of the cache, in this process or
// another, sees the old entry or the whole new one.
bool writeWhole(const std::filesystem::path& target, const std::string& bytes)
{
    static std::atomic<unsigned> serial{0};
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    const std::filesystem::path partial =
        target.string() + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (out)
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
        {
            std::filesystem::remove(partial, error);
            return false;
        }
    }
    std::filesystem::rename(partial, target, error);
    if (error)
    {
        std::filesystem::remove(partial, error);
        return false;
    }
    return true;
}

class CacheWriter
{
public:
    static CacheWriter& instance()
    {
        static CacheWriter writer;
        return writer;
    }

    void add(const std::string& file, std::shared_ptr<const std::string> bytes)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _queue.emplace_back(file, bytes);
        _pending[file] = std::move(bytes);
        if (!_thread.joinable())
            _thread = std::thread([this] { run(); });
        _wake.notify_all();
    }

    std::shared_ptr<const std::string> pending(const std::string& file)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _pending.find(file);
        return found == _pending.end() ? nullptr : found->second;
    }

    void wait()
    {
        std::unique_lock<std::mutex> lock(_mutex);
        _idle.wait(lock, [this] { return _queue.empty() && !_busy; });
    }

private:
    CacheWriter() = default;

    ~CacheWriter()
    {
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _stopping = true;
            _wake.notify_all();
        }
        if (_thread.joinable())
            _thread.join();
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(_mutex);
        for (;;)
        {
            _wake.wait(lock, [this] { return _stopping || !_queue.empty(); });
            if (_queue.empty())
                return; // stopping, with nothing left to write
            auto [file, bytes] = std::move(_queue.front());
            _queue.pop_front();
            _busy = true;
            lock.unlock();
            const bool written = writeWhole(file, *bytes);
            if (!written)
                OSG_WARN << "CacheWrites: cannot write the cache file " << file << std::endl;
            lock.lock();
            // A later write of the same file may have been queued meanwhile; its bytes stay pending.
            const auto found = _pending.find(file);
            if (found != _pending.end() && found->second == bytes)
                _pending.erase(found);
            _busy = false;
            if (_queue.empty())
                _idle.notify_all();
        }
    }

    std::mutex _mutex; // guards everything below
    std::condition_variable _wake;
    std::condition_variable _idle;
    std::deque<std::pair<std::string, std::shared_ptr<const std::string>>> _queue;
    std::map<std::string, std::shared_ptr<const std::string>> _pending; // by cache file, until renamed
    bool _busy = false;
    bool _stopping = false;
    std::thread _thread;
};

} // namespace

void writeCacheFileLater(const std::string& cacheFile, std::shared_ptr<const std::string> bytes)
{
    if (cacheFile.empty() || !bytes)
        return;
    CacheWriter::instance().add(cacheFile, std::move(bytes));
}

std::shared_ptr<const std::string> pendingCacheFile(const std::string& cacheFile)
{
    return CacheWriter::instance().pending(cacheFile);
}

void waitForCacheWrites()
{
    CacheWriter::instance().wait();
}

} // namespace SolvoEarthUtil
