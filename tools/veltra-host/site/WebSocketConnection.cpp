#include "site/WebSocketConnection.h"

#include "site/WebSocketSession.h"

namespace veltra::host {

WebSocketConnection::WebSocketConnection(std::uint64_t id, std::weak_ptr<WebSocketSession> session,
                                         std::shared_ptr<ServerGate> gate)
    : _id(id), _session(std::move(session)), _gate(std::move(gate))
{}

template <class Work>
void WebSocketConnection::withSession(Work&& work)
{
    // Held until the session reference is gone again, so the server cannot finish (and take the
    // sockets' io_context with it) while this thread still holds a session.
    std::lock_guard<std::mutex> lock(_gate->mutex);
    if (!_gate->open)
        return;
    if (std::shared_ptr<WebSocketSession> session = _session.lock())
        work(*session);
}

void WebSocketConnection::send(std::string text)
{
    withSession([&](WebSocketSession& session) { session.queue(OutgoingMessage{false, std::move(text), {}}); });
}

void WebSocketConnection::sendBinary(std::vector<std::uint8_t> bytes)
{
    withSession([&](WebSocketSession& session) { session.queue(OutgoingMessage{true, {}, std::move(bytes)}); });
}

void WebSocketConnection::close()
{
    withSession([](WebSocketSession& session) { session.requestClose(); });
}

} // namespace veltra::host
