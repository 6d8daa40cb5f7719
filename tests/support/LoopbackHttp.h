#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace veltra::test {

struct HttpRequest
{
    std::string method;
    std::string target;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string header(const std::string& lowerCaseName) const;
};

struct HttpResponse
{
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::chrono::milliseconds delay{0}; // waited before the answer is sent
};

/// A TCP listener on 127.0.0.1 with an ephemeral port, serving one connection at a time on its
/// own thread. It stops when destroyed, and by itself after `lifetime`, so a test never hangs on it.
class LoopbackServer
{
public:
    using ConnectionHandler = std::function<void(int socket)>;

    explicit LoopbackServer(ConnectionHandler handler, std::chrono::seconds lifetime = std::chrono::seconds(60));
    virtual ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    /// Joins the serving thread; derived servers call it first in their destructors so the
    /// thread never runs into members already destroyed.
    void stop();

    uint16_t port() const { return _port; }
    /// "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path) const;

private:
    void run(std::chrono::seconds lifetime);

    ConnectionHandler _handler;
    int _listener = -1;
    uint16_t _port = 0;
    std::atomic<bool> _stop{false};
    std::thread _thread;
};

/// An HTTP/1.1 server whose answers come from a function of the request; it records requests.
class LoopbackHttpServer : public LoopbackServer
{
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer() override { stop(); }

    std::vector<HttpRequest> requests() const;
    size_t requestCount() const;

private:
    void serve(int socket);

    Handler _handler;
    mutable std::mutex _mutex; // guards _requests
    std::vector<HttpRequest> _requests;
};

/// A forward proxy: plain requests in absolute form are relayed to their server; CONNECT is
/// answered with `connectStatus` and, when that is 200, tunnelled. It records request lines.
class LoopbackProxy : public LoopbackServer
{
public:
    explicit LoopbackProxy(int connectStatus = 200);
    ~LoopbackProxy() override { stop(); }

    std::vector<std::string> requestLines() const;

private:
    void serve(int socket);

    int _connectStatus;
    mutable std::mutex _mutex; // guards _requestLines
    std::vector<std::string> _requestLines;
};

/// Reads one request head and body from `socket`; false when the peer closed or sent garbage.
bool readHttpRequest(int socket, HttpRequest& request);
/// Writes `response` with Content-Length and "Connection: close".
void writeHttpResponse(int socket, const HttpResponse& response);

} // namespace veltra::test
