#pragma once

#include "site/WebSocketConnection.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace veltra::host {

struct ServerContext;

struct OutgoingMessage
{
    bool binary = false;
    std::string text;
    std::vector<std::uint8_t> bytes;

    std::size_t size() const { return binary ? bytes.size() : text.size(); }
};

/// One upgraded connection at /ws. Everything it does runs on its own strand; other threads
/// reach it through its Connection, which posts there. Beast allows one write at a time, so
/// outgoing messages wait in a queue and go out one after the other.
class WebSocketSession : public std::enable_shared_from_this<WebSocketSession>
{
public:
    /// The caller has checked the upgrade request and reserved a place in the registry under `id`.
    WebSocketSession(boost::asio::ip::tcp::socket&& socket, std::shared_ptr<ServerContext> context, std::uint64_t id);
    WebSocketSession(const WebSocketSession&) = delete;
    WebSocketSession& operator=(const WebSocketSession&) = delete;

    /// Completes the handshake with the upgrade request already read.
    void start(boost::beast::http::request<boost::beast::http::string_body> upgrade);

    /// Any thread.
    void queue(OutgoingMessage message);
    void requestClose();

    /// Tells the socket handler that the connection is gone (once, and only after onOpen) and
    /// frees its place in the registry. On the strand, or once the server threads have ended.
    void reportClose();

private:
    void onAccept(boost::beast::error_code error);
    void readNext();
    void onRead(boost::beast::error_code error, std::size_t bytes);
    void enqueue(OutgoingMessage message);
    void writeNext();
    void onWrite(boost::beast::error_code error, std::size_t bytes);
    void closeNow(boost::beast::websocket::close_reason reason);

    const std::shared_ptr<ServerContext> _context;
    boost::beast::websocket::stream<boost::beast::tcp_stream> _ws;
    const boost::asio::any_io_executor _strand;
    const std::uint64_t _id;
    std::shared_ptr<WebSocketConnection> _connection; // made by start()
    boost::beast::flat_buffer _readBuffer;
    std::deque<OutgoingMessage> _outbox; // the front one is being written
    bool _closing = false;
    bool _opened = false;
    std::atomic<bool> _closeReported{false};
};

} // namespace veltra::host
