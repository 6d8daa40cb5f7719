#include "site/HttpServer.h"

#include "TempDir.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace veltra::host;
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {

/// Echoes every text message and counts the life of connections.
class EchoSockets : public SocketHandler
{
public:
    void onOpen(const std::shared_ptr<Connection>& connection) override
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _open.push_back(connection);
        _changed.notify_all();
    }
    void onMessage(const std::shared_ptr<Connection>& connection, const std::string& text) override
    {
        connection->send("echo:" + text);
    }
    void onClose(const std::shared_ptr<Connection>&) override
    {
        std::lock_guard<std::mutex> lock(_mutex);
        ++_closed;
        _changed.notify_all();
    }

    /// The connection opened `count`-th, once it is there; null after 10 s.
    std::shared_ptr<Connection> waitForOpen(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(_mutex);
        _changed.wait_for(lock, std::chrono::seconds(10), [&] { return _open.size() >= count; });
        return _open.size() >= count ? _open[count - 1] : nullptr;
    }
    bool waitForClosed(int count)
    {
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(lock, std::chrono::seconds(10), [&] { return _closed >= count; });
    }

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    std::vector<std::shared_ptr<Connection>> _open;
    int _closed = 0;
};

/// Reads never wait longer than this, so a server that does not answer fails the test instead of hanging it.
void limitWaits(tcp::socket& socket)
{
    const timeval limit{10, 0};
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

class SiteServerNet : public ::testing::Test
{
protected:
    SiteServerNet()
    {
        temp.write("site/index.html", "<html>home</html>");
        temp.write("secret.txt", "not for the web");
        HttpServerOptions options;
        options.siteRoot = temp.path() / "site";
        options.pageScriptTemplate = "var secret = '%SECRET%';";
        options.maxBodyBytes = 1024;
        options.maxCallBodyBytes = 16 * 1024;
        server = std::make_unique<HttpServer>(
            options,
            [](const BridgeCall& call) {
                return BridgeAnswer{"{\"got\":" + call.body + "}", "application/json"};
            },
            sockets);
        origin = "http://127.0.0.1:" + std::to_string(server->port());
    }

    http::request<http::string_body> get(const std::string& target) const
    {
        http::request<http::string_body> request(http::verb::get, target, 11);
        request.set(http::field::host, "127.0.0.1:" + std::to_string(server->port()));
        return request;
    }

    http::request<http::string_body> bridge(const std::string& body) const
    {
        http::request<http::string_body> request = get("/bridge");
        request.method(http::verb::post);
        request.set(http::field::origin, origin);
        request.set("X-Veltra-Secret", server->secret());
        request.body() = body;
        request.prepare_payload();
        return request;
    }

    http::response<http::string_body> exchange(const http::request<http::string_body>& request) const
    {
        net::io_context io;
        tcp::socket socket(io);
        socket.connect({net::ip::make_address("127.0.0.1"), server->port()});
        limitWaits(socket);
        http::write(socket, request);
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        http::read(socket, buffer, response);
        return response;
    }

    /// Opens a WebSocket at `target` with the given Origin (none when empty); the handshake's error.
    beast::error_code openSocket(websocket::stream<tcp::socket>& ws, const std::string& target,
                                 const std::string& withOrigin)
    {
        ws.next_layer().connect({net::ip::make_address("127.0.0.1"), server->port()});
        limitWaits(ws.next_layer());
        ws.set_option(websocket::stream_base::decorator([withOrigin](websocket::request_type& request) {
            if (!withOrigin.empty())
                request.set(http::field::origin, withOrigin);
        }));
        beast::error_code error;
        ws.handshake("127.0.0.1:" + std::to_string(server->port()), target, error);
        return error;
    }

    veltra::test::TempDir temp;
    std::shared_ptr<EchoSockets> sockets = std::make_shared<EchoSockets>();
    std::unique_ptr<HttpServer> server;
    std::string origin;
};

} // namespace

TEST_F(SiteServerNet, ServesSiteFilesAndThePageScriptWithTheSecret)
{
    const auto page = exchange(get("/"));
    EXPECT_EQ(page.result(), http::status::ok);
    EXPECT_EQ(page.body(), "<html>home</html>");
    EXPECT_EQ(page[http::field::content_type], "text/html; charset=utf-8");
    EXPECT_EQ(page["X-Content-Type-Options"], "nosniff");

    const auto script = exchange(get("/veltra.js"));
    EXPECT_EQ(script.result(), http::status::ok);
    EXPECT_EQ(script.body(), "var secret = '" + server->secret() + "';");
    EXPECT_EQ(script[http::field::cache_control], "no-store");

    auto foreign = get("/veltra.js");
    foreign.set("Sec-Fetch-Site", "cross-site");
    EXPECT_EQ(exchange(foreign).result(), http::status::forbidden);
}

TEST_F(SiteServerNet, RefusalsNameTheirReason)
{
    const auto traversal = exchange(get("/%2e%2e/secret.txt"));
    EXPECT_EQ(traversal.result(), http::status::forbidden);
    EXPECT_NE(traversal.body().find(".."), std::string::npos);
    EXPECT_EQ(exchange(get("/../secret.txt")).result(), http::status::forbidden);
    EXPECT_EQ(exchange(get("/missing.html")).result(), http::status::not_found);
    EXPECT_EQ(exchange(get("/bridge")).result(), http::status::method_not_allowed);

    auto rebound = get("/");
    rebound.set(http::field::host, "attacker.example:" + std::to_string(server->port()));
    EXPECT_EQ(exchange(rebound).result(), http::status::forbidden);
}

TEST_F(SiteServerNet, BridgeCallsReachTheHandlerOnlyWithTheSecret)
{
    const auto reply = exchange(bridge("[1,2]"));
    EXPECT_EQ(reply.result(), http::status::ok);
    EXPECT_EQ(reply.body(), "{\"got\":[1,2]}");
    EXPECT_EQ(reply[http::field::content_type], "application/json");
    EXPECT_EQ(reply[http::field::cache_control], "no-store");

    auto noSecret = bridge("{}");
    noSecret.erase("X-Veltra-Secret");
    const auto refused = exchange(noSecret);
    EXPECT_EQ(refused.result(), http::status::forbidden);
    EXPECT_NE(refused.body().find("secret"), std::string::npos);

    auto foreign = bridge("{}");
    foreign.set(http::field::origin, "http://attacker.example");
    EXPECT_EQ(exchange(foreign).result(), http::status::forbidden);

}

TEST_F(SiteServerNet, BridgeCallsHaveTheirOwnBodyLimitOtherRequestsASmallOne)
{
    // Past the small limit of other requests, within the bridge's: the call goes through.
    const std::string large = "[\"" + std::string(12 * 1024, 'x') + "\"]";
    const auto passed = exchange(bridge(large));
    EXPECT_EQ(passed.result(), http::status::ok);
    EXPECT_EQ(passed.body(), "{\"got\":" + large + "}");

    const auto tooLarge = exchange(bridge(std::string(17 * 1024, ' ')));
    EXPECT_EQ(tooLarge.result(), http::status::payload_too_large);
    EXPECT_EQ(tooLarge.body(), "request body too large\n");

    auto post = get("/index.html");
    post.method(http::verb::post);
    post.body() = std::string(4096, ' ');
    post.prepare_payload();
    EXPECT_EQ(exchange(post).result(), http::status::payload_too_large);

    // A caller without the secret is turned away before its body is read.
    auto stranger = bridge(std::string(12 * 1024, ' '));
    stranger.erase("X-Veltra-Secret");
    const auto refused = exchange(stranger);
    EXPECT_EQ(refused.result(), http::status::forbidden);
    EXPECT_FALSE(refused.keep_alive());
}

TEST_F(SiteServerNet, WebSocketsEchoWithTheSecretAndAreRefusedWithout)
{
    net::io_context io;
    websocket::stream<tcp::socket> ws(io);
    ASSERT_FALSE(openSocket(ws, "/ws?secret=" + server->secret(), origin));
    ws.write(net::buffer(std::string("hello")));
    beast::flat_buffer buffer;
    ws.read(buffer);
    EXPECT_EQ(beast::buffers_to_string(buffer.data()), "echo:hello");

    // The host pushes from a thread of its own.
    const std::shared_ptr<Connection> connection = sockets->waitForOpen(1);
    ASSERT_TRUE(connection);
    std::thread([connection] { connection->send("pushed"); }).join();
    buffer.clear();
    ws.read(buffer);
    EXPECT_EQ(beast::buffers_to_string(buffer.data()), "pushed");

    ws.close(websocket::close_code::normal);
    EXPECT_TRUE(sockets->waitForClosed(1));

    for (const auto& attempt : {std::make_pair(std::string("/ws"), origin),
                                std::make_pair("/ws?secret=" + server->secret(), std::string()),
                                std::make_pair("/ws?secret=" + server->secret(), std::string("http://attacker.example"))}) {
        websocket::stream<tcp::socket> refused(io);
        EXPECT_EQ(openSocket(refused, attempt.first, attempt.second), websocket::error::upgrade_declined);
    }
    auto upgrade = get("/ws");
    upgrade.set(http::field::origin, origin);
    upgrade.set(http::field::connection, "Upgrade");
    upgrade.set(http::field::upgrade, "websocket");
    upgrade.set(http::field::sec_websocket_version, "13");
    upgrade.set(http::field::sec_websocket_key, "dGhlIHNhbXBsZSBub25jZQ==");
    const auto answer = exchange(upgrade);
    EXPECT_EQ(answer.result(), http::status::forbidden);
    EXPECT_NE(answer.body().find("secret"), std::string::npos);
}

TEST_F(SiteServerNet, StoppingClosesOpenSocketsWithoutHanging)
{
    net::io_context io;
    websocket::stream<tcp::socket> ws(io);
    ASSERT_FALSE(openSocket(ws, "/ws?secret=" + server->secret(), origin));
    const std::shared_ptr<Connection> connection = sockets->waitForOpen(1);
    ASSERT_TRUE(connection);

    const auto started = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(sockets->waitForClosed(1));

    connection->send("after the end"); // dropped, not a crash
    beast::flat_buffer buffer;
    beast::error_code error;
    ws.read(buffer, error);
    EXPECT_TRUE(error);
    server.reset();
}
