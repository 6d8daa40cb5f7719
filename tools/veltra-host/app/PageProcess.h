#pragma once

#include "app/FrameChannel.h"
#include "app/HostOptions.h"
#include "site/Connection.h"
#include "site/HttpServerOptions.h"

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace veltra::host {

/// A page process has ended (or never started); what the page sees of it.
class PageProcessGone : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The text every call of a page whose viewer process has ended fails with.
extern const char* const kInstanceGone;

/// One page's viewer process as the host sees it: `veltra-host --page-process` started with the
/// plug-in loaded, then given one page, whose messages, bridge calls and pictures it carries
/// until the page goes. Any thread.
class PageProcess
{
public:
    /// Starts `options.program` as a page process with the host's options. Throws
    /// PageProcessGone when it cannot be started.
    static std::shared_ptr<PageProcess> start(const HostOptions& options);
    /// Kills the process if it still runs, and waits for it.
    ~PageProcess();
    PageProcess(const PageProcess&) = delete;
    PageProcess& operator=(const PageProcess&) = delete;

    pid_t pid() const { return _pid; }
    /// Waits up to `limit` until the process has loaded the plug-in; false when it ended or is
    /// still not ready.
    bool waitReady(std::chrono::milliseconds limit);
    /// False once the process has ended.
    bool running() const;
    /// How the process ended ("exited with status 1"), "" while it runs.
    std::string endReason() const;

    /// Called once, on the process's reader thread, when the process has ended: with why ("killed by
    /// signal 6 (Aborted)", "exited with status 0"), and whether its page was still open then (a crash)
    /// rather than closed.
    using EndListener = std::function<void(const std::string& why, bool pageOpen)>;
    /// Gives the process its page: it says "hello" to `connection`, and everything it sends goes
    /// there. Throws PageProcessGone when the process has ended.
    void attach(const std::shared_ptr<Connection>& connection, EndListener ended);
    /// A text message of the page.
    void message(const std::string& text);
    /// The page's channel given by attach(); null before.
    std::shared_ptr<Connection> connection() const;
    /// One bridge request of the page; blocks until the reply. Throws PageProcessGone when the
    /// process ends first, WireError when it finds the request malformed.
    BridgeAnswer bridge(const BridgeCall& call);
    /// The page has gone: the process destroys its instances and ends by itself.
    void close();
    /// Waits up to `limit` for the process to end after close(), then kills it.
    void finish(std::chrono::milliseconds limit);

    /// Plug-in instances alive in the process, as it last said.
    std::size_t instances() const { return _instances.load(); }

private:
    struct Request
    {
        bool done = false;
        bool malformed = false;
        BridgeAnswer answer;
        std::string error;
    };

    PageProcess(pid_t pid, int fd, std::size_t maxFrame);
    void read();
    void forward(Frame& frame);
    void reportPending();
    /// Reaps the process once its channel has ended; kills it if it does not end within a while.
    std::string reap();

    const pid_t _pid;
    FrameChannel _channel;
    std::thread _reader;
    std::atomic<std::size_t> _instances{0};
    std::size_t _lastPending = 0; // reader thread only

    mutable std::mutex _lock; // guards the fields below
    std::condition_variable _changed;
    bool _ready = false;
    bool _ended = false;
    bool _closing = false;
    std::string _why;
    std::shared_ptr<Connection> _connection;
    EndListener _endListener;
    std::uint64_t _nextRequest = 1;
    std::map<std::uint64_t, Request> _requests;
};

} // namespace veltra::host
