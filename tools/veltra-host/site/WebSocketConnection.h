#pragma once

#include "site/Connection.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace veltra::host {

class WebSocketSession;

/// Shared by the server and every WebSocketConnection: once closed, sends are dropped, so a
/// connection kept past the server's end never reaches into a finished server.
struct ServerGate
{
    std::mutex mutex; // guards open
    bool open = true;
};

/// One accepted WebSocket: each call hands the work to the socket's own strand.
class WebSocketConnection final : public Connection
{
public:
    WebSocketConnection(std::uint64_t id, std::weak_ptr<WebSocketSession> session, std::shared_ptr<ServerGate> gate);
    WebSocketConnection(const WebSocketConnection&) = delete;
    WebSocketConnection& operator=(const WebSocketConnection&) = delete;

    std::uint64_t id() const override { return _id; }
    void send(std::string text) override;
    void sendBinary(std::vector<std::uint8_t> bytes) override;
    void close() override;
    std::size_t pendingBytes() const override { return _pendingBytes.load(); }

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
