#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace veltra::test {

/// Where a running host is and what lets a page in: its port, origin and the run's secret.
struct HostAddress
{
    unsigned short port = 0;
    std::string origin; // http://127.0.0.1:PORT
    std::string secret;

    /// Reads the secret out of /veltra.js at `address` ("http://127.0.0.1:PORT/"); throws when it
    /// cannot.
    static HostAddress of(const std::string& address);
};

/// Blocks SIGCHLD in the calling thread and the threads it starts from now on. A page process that
/// ends while a client waits in a socket read would otherwise end that read with EINTR (reads with
/// a timeout are not restarted), which breaks the WebSocket. The host waits for its processes
/// rather than taking the signal, so nothing else changes.
void blockChildSignals();

/// Json in and out as the host's wire has it (compact, no indentation).
Json::Value parseJson(const std::string& text);
std::string writeJson(const Json::Value& value);
/// {"$":"page","handle":H}
Json::Value pageObject(int handle);
/// A JSON array of `values`, as call arguments.
Json::Value jsonArray(std::initializer_list<Json::Value> values);

/// What a page does when the plug-in calls it: a window (1) with a console (2) whose log lines are
/// kept, a handler function (3) for "pinged", and every function call answered "answered". The
/// socket and the bridge answer from two threads.
class PageSide
{
public:
    Json::Value answer(const Json::Value& call);
    bool logged(const std::string& line) const;
    std::size_t loggedCount() const;
    bool called(const std::string& argument) const;

private:
    mutable std::mutex _lock; // guards the fields below
    std::vector<std::string> _console;
    std::vector<std::string> _functionArgs;
};

/// One page of a host as veltra.js drives it, over plain HTTP and a WebSocket: synchronous bridge
/// calls that answer the plug-in's calls on the way, and the socket read until a wanted message.
/// Use one from one thread, except bridgeCall, which other threads may make too.
class PageClient
{
public:
    explicit PageClient(HostAddress host);
    PageClient(const PageClient&) = delete;
    PageClient& operator=(const PageClient&) = delete;

    /// Opens the WebSocket and waits for "hello"; false when it fails.
    bool connect();
    std::uint64_t pageId() const { return _pageId; }

    /// One HTTP exchange with the host over the page's kept-alive connection (one at a time, as a
    /// page's synchronous requests are); `inParts` frames the body as long texts beside the JSON.
    boost::beast::http::response<boost::beast::http::string_body>
    exchange(boost::beast::http::verb verb, const std::string& target, const std::string& body, bool inParts = false);
    /// One synchronous call from the page, answering what the plug-in asks meanwhile.
    Json::Value bridgeCall(const Json::Value& call);
    /// `method` of the plug-in object `object` with `args`, as bridgeCall.
    Json::Value invoke(const Json::Value& object, const std::string& method,
                       const Json::Value& args = Json::arrayValue);

    /// Asks for an element of `width` x `height` with the name/value pairs `args` (besides its
    /// type) and waits for "created"; its message ("createFailed" or null when that came instead).
    Json::Value create(int element, int width, int height,
                       const std::vector<std::pair<std::string, std::string>>& args = {});

    /// Reads the socket, answering the plug-in's calls, until a message satisfies `wanted`; null
    /// when the socket fails first. A picture frame reads as {"op":"picture","instance":N}.
    Json::Value nextText(const std::function<bool(const Json::Value&)>& wanted);
    void send(const Json::Value& message);
    void sendRaw(const std::string& text);
    /// Closes the WebSocket: the page has gone.
    void close();
    /// Ends a nextText waiting on another thread (the socket fails there); close() afterwards.
    void interrupt();

    PageSide page;
    /// Plug-in calls answered during bridge calls.
    std::atomic<int> conversationCalls{0};

private:
    HostAddress _host;
    std::mutex _httpLock; // guards the two below
    boost::asio::io_context _httpIo;
    std::unique_ptr<boost::asio::ip::tcp::socket> _http;
    boost::asio::io_context _io;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> _socket{_io};
    std::uint64_t _pageId = 0;
};

} // namespace veltra::test
