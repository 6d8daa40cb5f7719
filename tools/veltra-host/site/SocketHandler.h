#pragma once

#include "site/Connection.h"

#include <memory>
#include <string>

namespace veltra::host {

/// Receives the life of every WebSocket accepted at /ws. Calls for one connection never overlap
/// and come in order (onOpen, onMessage..., onClose, each at most once); calls for different
/// connections may run at once on different server threads. Each call runs on a server thread, so
/// it should return quickly. Binary messages from the page are ignored: the page speaks text.
/// onClose also comes for connections still open when the server stops.
class SocketHandler
{
public:
    virtual ~SocketHandler() = default;

    virtual void onOpen(const std::shared_ptr<Connection>& connection) = 0;
    virtual void onMessage(const std::shared_ptr<Connection>& connection, const std::string& text) = 0;
    virtual void onClose(const std::shared_ptr<Connection>& connection) = 0;
};

} // namespace veltra::host
