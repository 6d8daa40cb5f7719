#pragma once

#include "site/HttpServerOptions.h"
#include "site/SocketHandler.h"

#include <memory>
#include <string>
#include <vector>

namespace veltra::host {

/// The host's web server: static files of the site folder, the page script /veltra.js carrying
/// the run's secret, bridge calls at POST /bridge and WebSockets at /ws, each guarded as
/// BridgeSecurity describes. Every refusal is answered with its status and a short text naming
/// why. It runs on threads of its own from construction until stop() or destruction.
class HttpServer
{
public:
    /// Binds and starts listening; std::system_error when the address or port cannot be bound,
    /// std::invalid_argument when the site folder does not exist. Either handler may be empty,
    /// which makes its endpoint answer 404.
    HttpServer(HttpServerOptions options, BridgeHandler bridge, std::shared_ptr<SocketHandler> sockets);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    unsigned short port() const;
    /// "http://127.0.0.1:PORT" and the other origins pages may be loaded from.
    const std::vector<std::string>& allowedOrigins() const;
    const std::string& secret() const;

    /// Closes every connection and ends the server threads; idempotent. Running handlers are
    /// waited for, so a bridge handler blocked on the thread calling stop() must be released
    /// first. Open WebSockets get onClose here. std::logic_error from a server thread.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};

} // namespace veltra::host
