#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace veltra::host {

/// Answers one bridge call: takes the JSON body of POST /bridge, returns the JSON reply. It runs on
/// a server thread and may block while the call is carried out elsewhere; an exception becomes a
/// 500 reply naming it.
using BridgeHandler = std::function<std::string(const std::string& body)>;

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
    /// Larger request bodies are refused with 413.
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
