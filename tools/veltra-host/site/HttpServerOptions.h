#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace veltra::host {

/// One POST /bridge request as the bridge handler sees it.
struct BridgeCall
{
    const std::string& body;
    /// The request's Content-Type and Accept headers, which say how the body is framed and which
    /// framing the page reads in the reply.
    std::string_view contentType;
    std::string_view accept;
};

/// The reply to a bridge call.
struct BridgeAnswer
{
    std::string body;
    std::string contentType = "application/json";
};

/// Answers one bridge call. It runs on a server thread and may block while the call is carried out
/// elsewhere; an exception becomes a 500 reply naming it.
using BridgeHandler = std::function<BridgeAnswer(const BridgeCall& call)>;

struct HttpServerOptions
{
    /// The address to listen on; loopback unless the caller decides otherwise.
    std::string address = "127.0.0.1";
    /// 0 picks a free port; HttpServer::port() tells which.
    unsigned short port = 0;
    /// The name pages use to reach the server, allowed in Host and Origin besides 127.0.0.1 and
    /// localhost. Empty means `address`; set it when listening on a wildcard address.
    std::string publicHost;

    /// Static files come from here only; empty serves none (every file is 404).
    std::filesystem::path siteRoot;
    /// The text served as /veltra.js, with every "%SECRET%" replaced by the run's secret.
    std::string pageScriptTemplate;

    std::size_t maxHeaderBytes = 16 * 1024;
    /// Larger bodies of POST /bridge are refused with 413. Bridge calls carry whole documents (a
    /// feature layer's GeoJSON text, say), so this is large; the rest is read only from requests
    /// that passed the bridge's security check.
    std::size_t maxCallBodyBytes = 64 * 1024 * 1024;
    /// Larger bodies of every other request are refused with 413.
    std::size_t maxBodyBytes = 1024 * 1024;
    /// Every client reaches us over loopback, so the limits are for the whole server: connections
    /// beyond maxHttpConnections are closed at once, WebSocket upgrades beyond maxWebSockets get 503.
    std::size_t maxHttpConnections = 64;
    std::size_t maxWebSockets = 16;
    /// A larger incoming WebSocket message closes that connection.
    std::size_t maxWebSocketMessageBytes = 1024 * 1024;
    /// A client that lets this much outgoing data pile up is too slow to serve; it is closed.
    std::size_t maxQueuedBytesPerSocket = 64 * 1024 * 1024;

    /// Threads running the server. More than one lets WebSocket traffic go on while a bridge
    /// handler blocks; socket handlers must then expect calls for different connections at once.
    unsigned threads = 2;
    /// A client that sends no complete request within this time is disconnected.
    std::chrono::seconds requestTimeout{30};
};

} // namespace veltra::host
