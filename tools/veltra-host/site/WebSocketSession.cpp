#include "site/WebSocketSession.h"

#include "site/ServerContext.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>

#include <exception>

namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace veltra::host {

WebSocketSession::WebSocketSession(boost::asio::ip::tcp::socket&& socket, std::shared_ptr<ServerContext> context,
                                   std::uint64_t id)
    : _context(std::move(context))
    , _ws(std::move(socket))
    , _strand(_ws.get_executor())
    , _id(id)
{
}

void WebSocketSession::start(beast::http::request<beast::http::string_body> upgrade)
{
    // Made here, not in the constructor: it refers to us weakly, which needs an owner first.
    _connection = std::make_shared<WebSocketConnection>(_id, weak_from_this(), _context->gate);

    _ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    _ws.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(beast::http::field::server, "veltra-host"); }));
    _ws.read_message_max(_context->options.maxWebSocketMessageBytes);
    auto request = std::make_shared<beast::http::request<beast::http::string_body>>(std::move(upgrade));
    _ws.async_accept(*request, [self = shared_from_this(), request](beast::error_code error) { self->onAccept(error); });
}

void WebSocketSession::onAccept(beast::error_code error)
{
    if (error) {
        reportClose();
        return;
    }
    _opened = true;
    try {
        _context->sockets->onOpen(_connection);
    } catch (const std::exception&) {
        closeNow({websocket::close_code::internal_error, "handler failed"});
    }
    readNext();
}

void WebSocketSession::readNext()
{
    _ws.async_read(_readBuffer, beast::bind_front_handler(&WebSocketSession::onRead, shared_from_this()));
}

void WebSocketSession::onRead(beast::error_code error, std::size_t)
{
    if (error) {
        reportClose();
        return;
    }
    if (_ws.got_text()) {
        const std::string text = beast::buffers_to_string(_readBuffer.data());
        try {
            _context->sockets->onMessage(_connection, text);
        } catch (const std::exception&) {
            closeNow({websocket::close_code::internal_error, "handler failed"});
        }
    }
    _readBuffer.consume(_readBuffer.size());
    readNext();
}

void WebSocketSession::queue(OutgoingMessage message)
{
    _connection->_pendingBytes += message.size();
    boost::asio::post(_strand, [self = shared_from_this(), message = std::move(message)]() mutable {
        self->enqueue(std::move(message));
    });
}

void WebSocketSession::enqueue(OutgoingMessage message)
{
    if (_closing || !_opened) {
        _connection->_pendingBytes -= message.size();
        return;
    }
    if (_connection->_pendingBytes.load() > _context->options.maxQueuedBytesPerSocket) {
        _connection->_pendingBytes -= message.size();
        closeNow({websocket::close_code::policy_error, "client too slow"});
        return;
    }
    _outbox.push_back(std::move(message));
    if (_outbox.size() == 1)
        writeNext();
}

void WebSocketSession::writeNext()
{
    const OutgoingMessage& message = _outbox.front();
    _ws.binary(message.binary);
    auto done = beast::bind_front_handler(&WebSocketSession::onWrite, shared_from_this());
    if (message.binary)
        _ws.async_write(boost::asio::buffer(message.bytes), std::move(done));
    else
        _ws.async_write(boost::asio::buffer(message.text), std::move(done));
}

void WebSocketSession::onWrite(beast::error_code error, std::size_t)
{
    _connection->_pendingBytes -= _outbox.front().size();
    _outbox.pop_front();
    if (error || _closing) {
        for (const OutgoingMessage& dropped : _outbox)
            _connection->_pendingBytes -= dropped.size();
        _outbox.clear();
        return; // after a failure the read side fails too and reports the close
    }
    if (!_outbox.empty())
        writeNext();
}

void WebSocketSession::requestClose()
{
    boost::asio::post(_strand, [self = shared_from_this()] {
        self->closeNow({websocket::close_code::normal});
    });
}

void WebSocketSession::closeNow(websocket::close_reason reason)
{
    if (_closing || !_opened)
        return;
    _closing = true;
    _ws.async_close(reason, [self = shared_from_this()](beast::error_code) {});
}

void WebSocketSession::reportClose()
{
    if (_closeReported.exchange(true))
        return;
    _context->webSockets.remove(_id);
    if (!_opened)
        return;
    try {
        _context->sockets->onClose(_connection);
    } catch (const std::exception&) {
        // The connection is gone either way; nothing is left to tell.
    }
}

} // namespace veltra::host
