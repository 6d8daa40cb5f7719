#include "LoopbackHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace veltra::test {

namespace {

constexpr int kSocketTimeoutSeconds = 5;

void setTimeouts(int socket)
{
    timeval tv{kSocketTimeoutSeconds, 0};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

bool sendAll(int socket, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size())
    {
        const ssize_t n = ::send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string toLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string trim(const std::string& text)
{
    const auto begin = text.find_first_not_of(" \t");
    const auto end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

const char* reasonPhrase(int status)
{
    switch (status)
    {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

int connectTo(const std::string& host, uint16_t port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (socket < 0 || inet_pton(AF_INET, host == "localhost" ? "127.0.0.1" : host.c_str(), &address.sin_addr) != 1 ||
        ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    {
        if (socket >= 0)
            ::close(socket);
        return -1;
    }
    setTimeouts(socket);
    return socket;
}

// Copies bytes both ways until either side closes or goes quiet.
void relay(int a, int b)
{
    char buffer[16384];
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    while (::poll(fds, 2, kSocketTimeoutSeconds * 1000) > 0)
    {
        for (int i = 0; i < 2; ++i)
        {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(fds[i].fd, buffer, sizeof(buffer), 0);
            if (n <= 0 || !sendAll(fds[1 - i].fd, std::string(buffer, static_cast<size_t>(n))))
                return;
        }
    }
}

bool splitHostPort(const std::string& authority, std::string& host, uint16_t& port)
{
    const auto colon = authority.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = authority.substr(0, colon);
    port = static_cast<uint16_t>(std::stoi(authority.substr(colon + 1)));
    return true;
}

} // namespace

std::string HttpRequest::header(const std::string& lowerCaseName) const
{
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? std::string() : found->second;
}

bool readHttpRequest(int socket, HttpRequest& request)
{
    std::string data;
    char buffer[4096];
    std::string::size_type headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos)
    {
        const ssize_t n = ::recv(socket, buffer, sizeof(buffer), 0);
        if (n <= 0 || data.size() > 65536)
            return false;
        data.append(buffer, static_cast<size_t>(n));
    }

    std::istringstream head(data.substr(0, headEnd));
    std::string line;
    std::getline(head, line);
    std::istringstream requestLine(line);
    std::string version;
    if (!(requestLine >> request.method >> request.target >> version))
        return false;
    while (std::getline(head, line))
    {
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            request.headers[toLower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
    }

    request.body = data.substr(headEnd + 4);
    const std::string length = request.header("content-length");
    const size_t expected = length.empty() ? 0 : std::stoul(length);
    while (request.body.size() < expected)
    {
        const ssize_t n = ::recv(socket, buffer, sizeof(buffer), 0);
        if (n <= 0)
            return false;
        request.body.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

void writeHttpResponse(int socket, const HttpResponse& response)
{
    std::ostringstream out;
    out << "HTTP/1.1 " << response.status << ' ' << reasonPhrase(response.status) << "\r\n";
    for (const auto& [name, value] : response.headers)
        out << name << ": " << value << "\r\n";
    out << "Content-Length: " << response.body.size() << "\r\nConnection: close\r\n\r\n" << response.body;
    sendAll(socket, out.str());
}

LoopbackServer::LoopbackServer(ConnectionHandler handler, std::chrono::seconds lifetime) : _handler(std::move(handler))
{
    _listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (_listener < 0 || ::bind(_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(_listener, 16) != 0 || ::getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    _port = ntohs(address.sin_port);
    _thread = std::thread([this, lifetime] { run(lifetime); });
}

LoopbackServer::~LoopbackServer()
{
    stop();
    ::close(_listener);
}

void LoopbackServer::stop()
{
    _stop = true;
    if (_thread.joinable())
        _thread.join();
}

std::string LoopbackServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(_port) + path;
}

void LoopbackServer::run(std::chrono::seconds lifetime)
{
    const auto deadline = std::chrono::steady_clock::now() + lifetime;
    while (!_stop && std::chrono::steady_clock::now() < deadline)
    {
        pollfd fd{_listener, POLLIN, 0};
        if (::poll(&fd, 1, 50) <= 0)
            continue;
        const int socket = ::accept(_listener, nullptr, nullptr);
        if (socket < 0)
            continue;
        setTimeouts(socket);
        _handler(socket);
        ::close(socket);
    }
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler)
    : LoopbackServer([this](int socket) { serve(socket); }), _handler(std::move(handler))
{}

void LoopbackHttpServer::serve(int socket)
{
    HttpRequest request;
    if (!readHttpRequest(socket, request))
        return;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _requests.push_back(request);
    }
    const HttpResponse response = _handler(request);
    if (response.delay.count() > 0)
        std::this_thread::sleep_for(response.delay);
    writeHttpResponse(socket, response);
}

std::vector<HttpRequest> LoopbackHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _requests;
}

size_t LoopbackHttpServer::requestCount() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _requests.size();
}

LoopbackProxy::LoopbackProxy(int connectStatus)
    : LoopbackServer([this](int socket) { serve(socket); }), _connectStatus(connectStatus)
{}

std::vector<std::string> LoopbackProxy::requestLines() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _requestLines;
}

void LoopbackProxy::serve(int socket)
{
    HttpRequest request;
    if (!readHttpRequest(socket, request))
        return;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _requestLines.push_back(request.method + " " + request.target);
    }

    std::string host;
    uint16_t port = 0;
    if (request.method == "CONNECT")
    {
        if (_connectStatus != 200 || !splitHostPort(request.target, host, port))
        {
            writeHttpResponse(socket, HttpResponse{_connectStatus == 200 ? 502 : _connectStatus, {}, {}, {}});
            return;
        }
        const int upstream = connectTo(host, port);
        if (upstream < 0)
        {
            writeHttpResponse(socket, HttpResponse{502, {}, {}, {}});
            return;
        }
        sendAll(socket, "HTTP/1.1 200 Connection established\r\n\r\n");
        relay(socket, upstream);
        ::close(upstream);
        return;
    }

    // Absolute form: http://host:port/path
    const std::string scheme = "http://";
    if (request.target.compare(0, scheme.size(), scheme) != 0)
    {
        writeHttpResponse(socket, HttpResponse{400, {}, {}, {}});
        return;
    }
    const auto pathStart = request.target.find('/', scheme.size());
    const std::string authority = request.target.substr(scheme.size(), pathStart - scheme.size());
    const std::string path = pathStart == std::string::npos ? "/" : request.target.substr(pathStart);
    const int upstream = splitHostPort(authority, host, port) ? connectTo(host, port) : -1;
    if (upstream < 0)
    {
        writeHttpResponse(socket, HttpResponse{502, {}, {}, {}});
        return;
    }
    std::ostringstream forwarded;
    forwarded << request.method << ' ' << path << " HTTP/1.1\r\n";
    for (const auto& [name, value] : request.headers)
        if (name != "proxy-connection")
            forwarded << name << ": " << value << "\r\n";
    forwarded << "\r\n" << request.body;
    sendAll(upstream, forwarded.str());
    relay(upstream, socket);
    ::close(upstream);
}

} // namespace veltra::test
