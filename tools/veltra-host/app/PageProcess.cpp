#include "app/PageProcess.h"

#include "bridge/WireValue.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace veltra::host {

const char* const kInstanceGone = "The plug-in instance is gone";

namespace {

// The child finds its end of the channel here, whatever number it had in the host.
constexpr int kChildChannel = 3;

std::string describeExit(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
    {
        const int signal = WTERMSIG(status);
        const char* name = strsignal(signal);
        return "killed by signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
    }
    return "ended (status " + std::to_string(status) + ")";
}

std::string selfProgram()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

} // namespace

std::shared_ptr<PageProcess> PageProcess::start(const HostOptions& options)
{
    const std::string program = options.program.empty() ? selfProgram() : options.program;
    if (program.empty())
        throw PageProcessGone("cannot find the program to start a page process with");
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw PageProcessGone(std::string("cannot make a page process's channel: ") + std::strerror(errno));

    std::vector<std::string> args = {program};
    for (std::string& arg : pageProcessArguments(options, kChildChannel))
        args.push_back(std::move(arg));
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto the agreed number clears close-on-exec there; every other descriptor of ours closes.
    posix_spawn_file_actions_adddup2(&actions, ends[1], kChildChannel);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The host blocks its stop signals for sigwait; a page process takes them the default way.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (failed != 0)
    {
        ::close(ends[0]);
        throw PageProcessGone("cannot start a page process (" + program + "): " + std::strerror(failed));
    }
    std::shared_ptr<PageProcess> process(new PageProcess(pid, ends[0], channelFrameLimit(options.maxCallBytes)));
    process->_reader = std::thread([raw = process.get()] { raw->read(); });
    return process;
}

PageProcess::PageProcess(pid_t pid, int fd, std::size_t maxFrame) : _pid(pid), _channel(fd, maxFrame)
{}

PageProcess::~PageProcess()
{
    if (running())
        ::kill(_pid, SIGKILL);
    _channel.shutdown();
    if (_reader.joinable())
        _reader.join();
}

bool PageProcess::waitReady(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(_lock);
    _changed.wait_for(guard, limit, [this] { return _ready || _ended; });
    return _ready && !_ended;
}

bool PageProcess::running() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return !_ended;
}

std::string PageProcess::endReason() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _why;
}

void PageProcess::attach(const std::shared_ptr<Connection>& connection, EndListener ended)
{
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (_ended)
            throw PageProcessGone(_why.empty() ? kInstanceGone : "the page process " + _why);
        _connection = connection;
        _endListener = std::move(ended);
    }
    _channel.send(FrameKind::Open, connection->id());
}

std::shared_ptr<Connection> PageProcess::connection() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _connection;
}

void PageProcess::message(const std::string& text)
{
    _channel.send(FrameKind::Text, 0, {}, text);
}

BridgeAnswer PageProcess::bridge(const BridgeCall& call)
{
    std::uint64_t id = 0;
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (_ended)
            throw PageProcessGone(kInstanceGone);
        id = _nextRequest++;
        _requests[id];
    }
    std::string head(call.contentType);
    head += '\n';
    head.append(call.accept.data(), call.accept.size());
    _channel.send(FrameKind::Bridge, id, head, call.body);

    std::unique_lock<std::mutex> guard(_lock);
    _changed.wait(guard, [&] { return _requests[id].done || _ended; });
    Request request = std::move(_requests[id]);
    _requests.erase(id);
    if (!request.done)
        throw PageProcessGone(kInstanceGone);
    if (request.malformed)
        throw WireError(request.error);
    return std::move(request.answer);
}

void PageProcess::close()
{
    {
        std::lock_guard<std::mutex> guard(_lock);
        _closing = true;
    }
    _channel.send(FrameKind::Close, 0);
}

void PageProcess::finish(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(_lock);
    if (!_changed.wait_for(guard, limit, [this] { return _ended; }))
        ::kill(_pid, SIGKILL);
}

void PageProcess::read()
{
    try
    {
        Frame frame;
        for (;;)
        {
            // Between frames, and at least every 50 ms, the process hears how far the page lags.
            if (_channel.readable(50))
            {
                if (!_channel.receive(frame))
                    break;
                forward(frame);
            }
            reportPending();
        }
    }
    catch (const FrameError& error)
    {
        std::fprintf(stderr, "veltra-host: page process %d: %s\n", static_cast<int>(_pid), error.what());
        ::kill(_pid, SIGKILL);
    }
    const std::string why = reap();

    EndListener listener;
    bool pageOpen = false;
    {
        std::lock_guard<std::mutex> guard(_lock);
        _ended = true;
        _why = why;
        pageOpen = !_closing;
        listener = std::move(_endListener);
    }
    _changed.notify_all();
    if (listener)
        listener(why, pageOpen);
}

void PageProcess::forward(Frame& frame)
{
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(_lock);
        connection = _connection;
        switch (frame.kind)
        {
        case FrameKind::Ready: _ready = true; break;
        case FrameKind::BridgeReply:
        case FrameKind::BridgeFailed:
        {
            auto found = _requests.find(frame.tag);
            if (found == _requests.end())
                return;
            Request& request = found->second;
            request.done = true;
            request.malformed = frame.kind == FrameKind::BridgeFailed;
            if (request.malformed)
                request.error = std::move(frame.body);
            else
                request.answer = BridgeAnswer{std::move(frame.body), std::move(frame.head)};
            break;
        }
        default: break;
        }
    }
    switch (frame.kind)
    {
    case FrameKind::Ready:
    case FrameKind::BridgeReply:
    case FrameKind::BridgeFailed: _changed.notify_all(); break;
    case FrameKind::Instances: _instances = static_cast<std::size_t>(frame.tag); break;
    case FrameKind::Text:
        if (connection)
            connection->send(std::move(frame.body));
        break;
    case FrameKind::Binary:
        if (connection)
            connection->sendBinary(std::vector<std::uint8_t>(frame.body.begin(), frame.body.end()));
        break;
    case FrameKind::Close:
        if (connection)
            connection->close();
        break;
    default: break; // kinds only the host sends are ignored
    }
}

void PageProcess::reportPending()
{
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(_lock);
        connection = _connection;
    }
    const std::size_t pending = connection ? connection->pendingBytes() : 0;
    if (pending == _lastPending)
        return;
    _lastPending = pending;
    _channel.send(FrameKind::Pending, pending);
}

std::string PageProcess::reap()
{
    // The channel has ended, so the process is ending; one that lingers (stuck in its exit) is killed.
    constexpr int kPatience = 500; // times 20 ms
    for (int waited = 0;; ++waited)
    {
        if (waited == kPatience)
            ::kill(_pid, SIGKILL);
        int status = 0;
        const pid_t done = ::waitpid(_pid, &status, waited < kPatience ? WNOHANG : 0);
        if (done == _pid)
            return describeExit(status);
        if (done < 0 && errno != EINTR)
            return "ended (it could not be waited for)";
        if (waited < kPatience)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace veltra::host
