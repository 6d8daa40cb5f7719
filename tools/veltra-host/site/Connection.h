#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace veltra::host {

class WebSocketSession;

/// Shared by the server and every Connection: once closed, sends are dropped, so a Connection
/// kept past the server's end never reaches into a finished server.
struct ServerGate
{
    std::mutex mutex; // guards open
    bool open = true;
};

/// One accepted WebSocket, as handlers see it. Every call is safe from any thread: it hands the
/// work to the connection's own strand and returns at once. Messages go out in the order they
/// were sent. After the connection or the server has closed, calls do nothing.
class Connection
{
public:
    Connection(std::uint64_t id, std::weak_ptr<WebSocketSession> session, std::shared_ptr<ServerGate> gate);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Unique within one server run.
    std::uint64_t id() const { return _id; }

    void send(std::string text);
    void sendBinary(std::vector<std::uint8_t> bytes);
    /// Starts a normal WebSocket close; onClose follows.
    void close();

    /// Bytes queued but not yet written; a sender of pictures can skip one while the client lags.
    std::size_t pendingBytes() const { return _pendingBytes.load(); }

private:
    friend class WebSocketSession;

    template <class Work>
    void withSession(Work&& work);

    const std::uint64_t _id;
    const std::weak_ptr<WebSocketSession> _session;
    const std::shared_ptr<ServerGate> _gate;
    std::atomic<std::size_t> _pendingBytes{0};
};

} // namespace veltra::host
