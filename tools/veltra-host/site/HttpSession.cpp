#include "site/HttpSession.h"

#include "site/Routes.h"
#include "site/ServerContext.h"
#include "site/UrlText.h"
#include "site/WebSocketSession.h"

#include <boost/asio/dispatch.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

namespace beast = boost::beast;

namespace veltra::host {

namespace {

const char* const WebSocketPath = "/ws";
const auto LingerTime = std::chrono::seconds(2);
/// The most a call's body is read in one go.
const std::size_t CallReadPiece = 1024 * 1024;

} // namespace

HttpSession::HttpSession(boost::asio::ip::tcp::socket&& socket, std::shared_ptr<ServerContext> context)
    : _context(std::move(context))
    , _stream(std::move(socket))
{
    ++_context->httpConnections;
    // Replies go out whole at once; waiting to gather more (Nagle) only delays their last bytes
    // until the page's delayed acknowledgement comes, tens of milliseconds for every call.
    beast::error_code ignored;
    _stream.socket().set_option(boost::asio::ip::tcp::no_delay(true), ignored);
}

HttpSession::~HttpSession()
{
    --_context->httpConnections;
}

void HttpSession::start()
{
    boost::asio::dispatch(_stream.get_executor(),
                          beast::bind_front_handler(&HttpSession::readRequest, shared_from_this()));
}

void HttpSession::readRequest()
{
    _parser.emplace();
    _parser->header_limit(static_cast<std::uint32_t>(_context->options.maxHeaderBytes));
    // The larger of the two limits while the head is read (a Content-Length is checked against it
    // there); onHeader() then settles the one that applies.
    _parser->body_limit(std::max(_context->options.maxBodyBytes, _context->options.maxCallBodyBytes));
    _stream.expires_after(_context->options.requestTimeout);
    http::async_read_header(_stream, _buffer, *_parser,
                            beast::bind_front_handler(&HttpSession::onHeader, shared_from_this()));
}

void HttpSession::onHeader(beast::error_code error, std::size_t)
{
    if (refuseReadError(error))
        return;
    const auto& head = _parser->get();
    const std::string_view target(head.target().data(), head.target().size());
    std::size_t limit = _context->options.maxBodyBytes;
    const bool call = head.method() == http::verb::post && isBridgeTarget(target);
    if (call)
    {
        // Only a page allowed to call may make us hold that much. The refusal cannot wait for a
        // body we will not read, so the connection closes after it.
        if (auto refusal = _context->security.check(head, RequestKind::Bridge))
            return refuseAndClose(static_cast<http::status>(refusal->status), refusal->reason);
        limit = _context->options.maxCallBodyBytes;
    }
    const auto length = _parser->content_length();
    if (length && *length > limit)
        return refuseAndClose(http::status::payload_too_large, "request body too large");
    _parser->body_limit(limit);
    if (call && length && *length > 0)
        return onRead(readCallBody(), 0);
    http::async_read(_stream, _buffer, *_parser, beast::bind_front_handler(&HttpSession::onRead, shared_from_this()));
}

beast::error_code HttpSession::readCallBody()
{
    // A page uploads a large body in pieces of a few kilobytes. Read asynchronously, each piece
    // would be one completion passed between the server's threads, tens of thousands of thread
    // switches for ten megabytes. The call will hold this thread while it runs anyway, so the body
    // is read here, waiting in poll() until a good share of what is still to come has arrived.
    beast::error_code error;
    const std::size_t used = _parser->put(_buffer.data(), error);
    _buffer.consume(used);
    if (error == http::error::need_more)
        error = {};
    auto& socket = _stream.socket();
    const int fd = socket.native_handle();
    const auto deadline = std::chrono::steady_clock::now() + _context->options.requestTimeout;
    std::unique_ptr<char[]> piece;
    std::size_t pieceSize = 0;
    while (!error && !_parser->is_done())
    {
        const std::uint64_t left = _parser->content_length_remaining().value_or(0);
        if (left == 0)
            break;
        // Never more than what is still to come, or poll() would wait for bytes that never come.
        const int lowWater = static_cast<int>(std::min<std::uint64_t>(left, CallReadPiece / 4));
        ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &lowWater, sizeof lowWater);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (wait.count() <= 0)
            error = beast::error::timeout;
        else
        {
            pollfd ready{fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, static_cast<int>(wait.count()));
            if (polled == 0)
                error = beast::error::timeout;
            else if (polled < 0 && errno != EINTR)
                error = beast::error_code(errno, boost::system::system_category());
        }
        if (error)
            break;
        if (!piece)
        {
            pieceSize = static_cast<std::size_t>(std::min<std::uint64_t>(left, CallReadPiece));
            piece = std::make_unique<char[]>(pieceSize);
        }
        const ssize_t got = ::recv(fd, piece.get(), static_cast<std::size_t>(std::min<std::uint64_t>(left, pieceSize)),
                                   MSG_DONTWAIT);
        if (got == 0)
            error = http::error::end_of_stream;
        else if (got < 0)
        {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                error = beast::error_code(errno, boost::system::system_category());
        }
        else
        {
            _parser->put(boost::asio::buffer(piece.get(), static_cast<std::size_t>(got)), error);
            if (error == http::error::need_more)
                error = {};
        }
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
    return error;
}

bool HttpSession::refuseReadError(beast::error_code error)
{
    if (!error)
        return false;
    if (error == http::error::body_limit)
        refuseAndClose(http::status::payload_too_large, "request body too large");
    else if (error == http::error::header_limit)
        refuseAndClose(http::status::request_header_fields_too_large, "request head too large");
    else if (error == http::error::end_of_stream || error == beast::error::timeout ||
             error == boost::asio::error::operation_aborted)
        lingerAndClose();
    else
        refuseAndClose(http::status::bad_request, "malformed request");
    return true;
}

void HttpSession::onRead(beast::error_code error, std::size_t)
{
    if (refuseReadError(error))
        return;

    Request request = _parser->release();
    if (beast::websocket::is_upgrade(request))
        return upgrade(std::move(request));
    send(route(*_context, request));
}

void HttpSession::upgrade(Request request)
{
    const std::string_view target(request.target().data(), request.target().size());
    if (splitTarget(target).path != WebSocketPath || !_context->sockets)
        return send(textReply(request, http::status::not_found, "no WebSocket here"));
    if (auto refusal = _context->security.check(request, RequestKind::WebSocket))
        return send(textReply(request, static_cast<http::status>(refusal->status), refusal->reason));

    if (_context->webSockets.size() >= _context->options.maxWebSockets)
        return send(textReply(request, http::status::service_unavailable, "too many WebSocket connections"));

    const std::uint64_t id = _context->nextConnectionId++;
    _stream.expires_never();
    auto session = std::make_shared<WebSocketSession>(_stream.release_socket(), _context, id);
    // Another thread may have taken the last place since the check above; this client is then
    // simply disconnected, as the session goes away unstarted.
    if (!_context->webSockets.add(id, session))
        return;
    session->start(std::move(request));
}

void HttpSession::send(Reply reply)
{
    std::visit(
        [this](auto& message) {
            using Message = std::decay_t<decltype(message)>;
            auto owned = std::make_shared<Message>(std::move(message));
            const bool keepAlive = owned->keep_alive();
            _reply = owned;
            _stream.expires_after(_context->options.requestTimeout);
            http::async_write(_stream, *owned,
                              beast::bind_front_handler(&HttpSession::onWrite, shared_from_this(), keepAlive));
        },
        reply);
}

void HttpSession::onWrite(bool keepAlive, beast::error_code error, std::size_t)
{
    _reply.reset();
    if (error)
        return;
    if (!keepAlive)
        return lingerAndClose();
    readRequest();
}

void HttpSession::refuseAndClose(http::status status, std::string text)
{
    const unsigned version = _parser && _parser->is_header_done() ? _parser->get().version() : 11;
    send(textReply(version, false, status, std::move(text)));
}

void HttpSession::lingerAndClose()
{
    beast::error_code ignored;
    _stream.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
    _stream.expires_after(LingerTime);
    drain();
}

void HttpSession::drain()
{
    _stream.async_read_some(boost::asio::buffer(_discard),
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                                if (error) {
                                    beast::error_code ignored;
                                    self->_stream.socket().close(ignored);
                                    return;
                                }
                                self->drain();
                            });
}

} // namespace veltra::host
