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

#include <chrono>

namespace beast = boost::beast;

namespace veltra::host {

namespace {

const char* const WebSocketPath = "/ws";
const auto LingerTime = std::chrono::seconds(2);

} // namespace

HttpSession::HttpSession(boost::asio::ip::tcp::socket&& socket, std::shared_ptr<ServerContext> context)
    : _context(std::move(context))
    , _stream(std::move(socket))
{
    ++_context->httpConnections;
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
    _parser->body_limit(_context->options.maxBodyBytes);
    _stream.expires_after(_context->options.requestTimeout);
    http::async_read(_stream, _buffer, *_parser, beast::bind_front_handler(&HttpSession::onRead, shared_from_this()));
}

void HttpSession::onRead(beast::error_code error, std::size_t)
{
    if (error == http::error::body_limit)
        return refuseAndClose(http::status::payload_too_large, "request body too large");
    if (error == http::error::header_limit)
        return refuseAndClose(http::status::request_header_fields_too_large, "request head too large");
    if (error == http::error::end_of_stream || error == beast::error::timeout || error == boost::asio::error::operation_aborted)
        return lingerAndClose();
    if (error)
        return refuseAndClose(http::status::bad_request, "malformed request");

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
