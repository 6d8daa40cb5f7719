#include "site/HttpServer.h"

#include "site/HttpSession.h"
#include "site/ServerContext.h"
#include "site/WebSocketSession.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace veltra::host {

struct HttpServer::Impl
{
    void acceptNext();
    void onAccept(boost::system::error_code error, tcp::socket socket);
    void runThread();

    std::unique_ptr<net::io_context> io;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::shared_ptr<ServerContext> context;
    unsigned short port = 0;
    std::vector<std::thread> threads;
    std::mutex stopMutex; // serialises stop()
    bool stopped = false;
};

void HttpServer::Impl::acceptNext()
{
    acceptor->async_accept(net::make_strand(*io), [this](boost::system::error_code error, tcp::socket socket) {
        onAccept(error, std::move(socket));
    });
}

void HttpServer::Impl::onAccept(boost::system::error_code error, tcp::socket socket)
{
    if (error == net::error::operation_aborted || !acceptor->is_open())
        return;
    // Past the limit the socket is simply dropped (closed when it goes out of scope).
    if (!error && context->httpConnections.load() < context->options.maxHttpConnections)
        std::make_shared<HttpSession>(std::move(socket), context)->start();
    acceptNext();
}

void HttpServer::Impl::runThread()
{
    // A stray exception from a handler must not take the whole server down.
    for (;;) {
        try {
            io->run();
            return;
        } catch (...) {
        }
    }
}

HttpServer::HttpServer(HttpServerOptions options, BridgeHandler bridge, std::shared_ptr<SocketHandler> sockets)
    : _impl(std::make_unique<Impl>())
{
    Impl& impl = *_impl;
    impl.io = std::make_unique<net::io_context>();
    const tcp::endpoint endpoint(net::ip::make_address(options.address), options.port);
    impl.acceptor = std::make_unique<tcp::acceptor>(*impl.io);
    impl.acceptor->open(endpoint.protocol());
    impl.acceptor->set_option(net::socket_base::reuse_address(true));
    impl.acceptor->bind(endpoint);
    impl.acceptor->listen(net::socket_base::max_listen_connections);
    impl.port = impl.acceptor->local_endpoint().port();

    impl.context = std::make_shared<ServerContext>(std::move(options), impl.port, std::move(bridge), std::move(sockets));
    impl.acceptNext();
    const unsigned threadCount = std::max(1u, impl.context->options.threads);
    for (unsigned i = 0; i < threadCount; ++i)
        impl.threads.emplace_back([&impl] { impl.runThread(); });
}

HttpServer::~HttpServer()
{
    stop();
}

unsigned short HttpServer::port() const
{
    return _impl->port;
}

const std::vector<std::string>& HttpServer::allowedOrigins() const
{
    return _impl->context->security.allowedOrigins();
}

const std::string& HttpServer::secret() const
{
    return _impl->context->security.secret();
}

void HttpServer::stop()
{
    Impl& impl = *_impl;
    std::lock_guard<std::mutex> lock(impl.stopMutex);
    if (impl.stopped)
        return;
    for (const std::thread& thread : impl.threads)
        if (thread.get_id() == std::this_thread::get_id())
            throw std::logic_error("HttpServer::stop called from a server thread");

    {
        std::lock_guard<std::mutex> gateLock(impl.context->gate->mutex);
        impl.context->gate->open = false;
    }
    impl.io->stop();
    for (std::thread& thread : impl.threads)
        thread.join();
    impl.threads.clear();

    for (const auto& session : impl.context->webSockets.takeAll())
        session->reportClose();
    // Destroying the io_context destroys the handlers still queued, and with them the sessions
    // they own; the context outlives them all.
    impl.acceptor.reset();
    impl.io.reset();
    impl.stopped = true;
}

} // namespace veltra::host
