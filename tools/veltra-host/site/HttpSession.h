#pragma once

#include "site/Responses.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>

#include <array>
#include <memory>
#include <optional>

namespace veltra::host {

struct ServerContext;

/// One HTTP connection: reads requests one after the other (keep-alive), answers each through
/// route(), and hands a WebSocket upgrade at /ws over to a WebSocketSession once it passes the
/// security check. Runs on its own strand.
class HttpSession : public std::enable_shared_from_this<HttpSession>
{
public:
    HttpSession(boost::asio::ip::tcp::socket&& socket, std::shared_ptr<ServerContext> context);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    void start();

private:
    void readRequest();
    /// Settles the body limit by the request's target, and refuses a bridge call that fails its
    /// security check before its body is read.
    void onHeader(boost::beast::error_code error, std::size_t bytes);
    void onRead(boost::beast::error_code error, std::size_t bytes);
    /// Reads the rest of a bridge call's body here, blocking; the error that ended it, if any.
    boost::beast::error_code readCallBody();
    /// Answers a read error with its refusal; false when there was none.
    bool refuseReadError(boost::beast::error_code error);
    void upgrade(Request request);
    void send(Reply reply);
    void onWrite(bool keepAlive, boost::beast::error_code error, std::size_t bytes);
    /// Answers a request that cannot be read further, then closes.
    void refuseAndClose(http::status status, std::string text);
    /// Stops sending and discards what the client still sends for a moment, so that it reads our
    /// answer instead of a reset.
    void lingerAndClose();
    void drain();

    const std::shared_ptr<ServerContext> _context;
    boost::beast::tcp_stream _stream;
    boost::beast::flat_buffer _buffer;
    std::optional<http::request_parser<http::string_body>> _parser;
    std::shared_ptr<void> _reply; // the message being written, kept alive for the write
    std::array<char, 4096> _discard{};
};

} // namespace veltra::host
