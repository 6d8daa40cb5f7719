#include "app/PageProcessMain.h"

#include "app/FrameChannel.h"
#include "app/PageHost.h"
#include "bridge/WireValue.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace veltra::host {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Sanitizers reserve terabytes of shadow memory up front, which any data limit refuses.
constexpr bool kCanLimitMemory = false;
#else
constexpr bool kCanLimitMemory = true;
#endif


/// The page's channel as its session sees it: every message is a frame to the host, which writes
/// it to the page's WebSocket.
class ChannelConnection final : public Connection
{
public:
    ChannelConnection(std::uint64_t id, FrameChannel& channel) : _id(id), _channel(channel) {}

    std::uint64_t id() const override { return _id; }
    void send(std::string text) override
    {
        _sinceReport += text.size();
        _channel.send(FrameKind::Text, _id, {}, text);
    }
    void sendBinary(std::vector<std::uint8_t> bytes) override
    {
        _sinceReport += bytes.size();
        _channel.send(FrameKind::Binary, _id, {}, bytes.data(), bytes.size());
    }
    void close() override { _channel.send(FrameKind::Close, _id); }
    /// What the host last said its WebSocket still had to write, and what went out since.
    std::size_t pendingBytes() const override { return _reported + _sinceReport; }
    void reported(std::size_t pending)
    {
        _reported = pending;
        _sinceReport = 0;
    }

private:
    const std::uint64_t _id;
    FrameChannel& _channel;
    std::atomic<std::size_t> _reported{0};
    std::atomic<std::size_t> _sinceReport{0};
};

/// Bridge requests block until the plug-in is done with them, and answers to the plug-in's own
/// calls arrive as bridge requests meanwhile: each runs on a thread of its own. Threads are kept
/// for the next requests, and one more is started whenever none is free.
class BridgeRunners
{
public:
    ~BridgeRunners() { joinAll(); }

    void run(std::function<void()> work)
    {
        std::lock_guard<std::mutex> guard(_lock);
        _work.push_back(std::move(work));
        if (_idle > 0)
            _wake.notify_one();
        else
            _threads.emplace_back([this] { serve(); });
    }

    /// Lets the requests queued so far finish, then ends the threads.
    void joinAll()
    {
        {
            std::lock_guard<std::mutex> guard(_lock);
            _ending = true;
        }
        _wake.notify_all();
        for (std::thread& thread : _threads)
            thread.join();
        _threads.clear();
    }

private:
    void serve()
    {
        std::unique_lock<std::mutex> guard(_lock);
        for (;;)
        {
            if (_work.empty())
            {
                if (_ending)
                    return;
                ++_idle;
                _wake.wait(guard, [this] { return !_work.empty() || _ending; });
                --_idle;
                continue;
            }
            std::function<void()> work = std::move(_work.front());
            _work.pop_front();
            guard.unlock();
            work();
            guard.lock();
        }
    }

    std::mutex _lock; // guards the fields below
    std::condition_variable _wake;
    std::deque<std::function<void()>> _work;
    std::vector<std::thread> _threads;
    std::size_t _idle = 0;
    bool _ending = false;
};

/// Descriptors this process got from the host by accident (its sockets, say) are closed, so the
/// host's port and files are not held by a page process.
void closeInheritedDescriptors(int keep)
{
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder)
        return;
    std::vector<int> inherited;
    while (dirent* entry = ::readdir(folder))
    {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != keep && fd != ::dirfd(folder))
            inherited.push_back(fd);
    }
    ::closedir(folder);
    for (int fd : inherited)
        ::close(fd);
}

void limit(int resource, std::size_t value, const char* what)
{
    rlimit current{};
    ::getrlimit(resource, &current);
    rlim_t wanted = static_cast<rlim_t>(value);
    if (current.rlim_max != RLIM_INFINITY && wanted > current.rlim_max)
        wanted = current.rlim_max;
    // Both limits: the plug-in may not lift its own soft limit back up.
    const rlimit set{wanted, wanted};
    if (::setrlimit(resource, &set) != 0)
        std::fprintf(stderr, "veltra-host: page process: cannot limit its %s\n", what);
}

} // namespace

int runPageProcess(const HostOptions& options)
{
    const int fd = options.pageProcessChannel;
    closeInheritedDescriptors(fd);
    limit(RLIMIT_NOFILE, options.pageOpenFiles, "open files");
    if (kCanLimitMemory && options.pageMemoryBytes > 0)
        limit(RLIMIT_DATA, options.pageMemoryBytes, "memory");

    FrameChannel channel(fd, channelFrameLimit(options.maxCallBytes));
    std::unique_ptr<PageHost> pages;
    try
    {
        // The host reports the page's coming and going, not its process.
        pages = std::make_unique<PageHost>(options, options.display, false);
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "veltra-host: page process: %s\n", error.what());
        return 1;
    }
    channel.send(FrameKind::Ready, static_cast<std::uint64_t>(::getpid()));

    // This thread only reads, whatever the host is sending, so that the host's writes to us always
    // end; what we tell the host goes from other threads (the instance count from this reporter).
    std::mutex reporting;
    std::condition_variable reportWake;
    bool reported = false;
    std::size_t toldInstances = 0;
    auto tellInstances = [&] {
        const std::size_t now = pages->instanceCount();
        if (now != toldInstances)
            channel.send(FrameKind::Instances, now);
        toldInstances = now;
    };
    std::thread reporter([&] {
        std::unique_lock<std::mutex> guard(reporting);
        while (!reported)
        {
            guard.unlock();
            tellInstances();
            guard.lock();
            reportWake.wait_for(guard, std::chrono::milliseconds(50), [&] { return reported; });
        }
    });

    std::shared_ptr<ChannelConnection> page;
    BridgeRunners runners;
    try
    {
        Frame frame;
        for (;;)
        {
            if (!channel.receive(frame) || frame.kind == FrameKind::Close)
                break;
            if (frame.kind == FrameKind::Open && !page)
            {
                page = std::make_shared<ChannelConnection>(frame.tag, channel);
                pages->open(page);
            }
            else if (frame.kind == FrameKind::Text && page)
                pages->message(page->id(), frame.body);
            else if (frame.kind == FrameKind::Pending && page)
                page->reported(static_cast<std::size_t>(frame.tag));
            else if (frame.kind == FrameKind::Bridge)
            {
                runners.run([&pages, &channel, request = std::move(frame)] {
                    const std::size_t split = request.head.find('\n');
                    const std::string contentType = request.head.substr(0, split);
                    const std::string accept = split == std::string::npos ? "" : request.head.substr(split + 1);
                    try
                    {
                        BridgeAnswer answer = pages->bridge(BridgeCall{request.body, contentType, accept});
                        channel.send(FrameKind::BridgeReply, request.tag, answer.contentType, answer.body);
                    }
                    catch (const std::exception& error)
                    {
                        channel.send(FrameKind::BridgeFailed, request.tag, {}, error.what());
                    }
                });
                frame = Frame();
            }
        }
    }
    catch (const FrameError& error)
    {
        std::fprintf(stderr, "veltra-host: page process: %s\n", error.what());
    }
    // The page has gone (or the host): its instances go in order, and waiting requests are let go.
    // Whatever the host still sends meanwhile is read and dropped, so that its writes end as before.
    std::thread drain([&channel] {
        try
        {
            for (Frame dropped; channel.receive(dropped);)
            {}
        }
        catch (const FrameError&)
        {}
    });
    if (page)
        pages->close(page->id());
    pages->shutdown();
    runners.joinAll();
    {
        std::lock_guard<std::mutex> guard(reporting);
        reported = true;
    }
    reportWake.notify_all();
    reporter.join();
    tellInstances();
    channel.shutdown();
    drain.join();
    return 0;
}

} // namespace veltra::host
