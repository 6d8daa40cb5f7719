#pragma once

#include "site/BridgeSecurity.h"
#include "site/WebSocketConnection.h"
#include "site/HttpServerOptions.h"
#include "site/SessionRegistry.h"
#include "site/SitePaths.h"
#include "site/SocketHandler.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace veltra::host {

/// What every session of one server shares. Sessions hold it by shared pointer, so it outlives
/// the last of them whatever order the server winds down in.
struct ServerContext
{
    ServerContext(HttpServerOptions serverOptions, unsigned short boundPort, BridgeHandler bridgeHandler,
                  std::shared_ptr<SocketHandler> socketHandler);

    const HttpServerOptions options;
    const BridgeSecurity security;
    const std::optional<SitePaths> site;
    const std::string pageScript; // the template with the secret filled in
    const BridgeHandler bridge;
    const std::shared_ptr<SocketHandler> sockets;

    SessionRegistry webSockets;
    const std::shared_ptr<ServerGate> gate = std::make_shared<ServerGate>();
    std::atomic<std::size_t> httpConnections{0};
    std::atomic<std::uint64_t> nextConnectionId{1};
};

} // namespace veltra::host
