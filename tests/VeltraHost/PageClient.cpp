#include "PageClient.h"

#include "bridge/WireParts.h"

#include <boost/asio/connect.hpp>
#include <boost/beast/core.hpp>
#include <json/reader.h>
#include <json/writer.h>

#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <regex>
#include <stdexcept>

namespace veltra::test {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

void limitWaits(int fd)
{
    const timeval limit{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

} // namespace

void blockChildSignals()
{
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &child, nullptr);
}

Json::Value parseJson(const std::string& text)
{
    Json::Value value;
    Json::Reader().parse(text, value);
    return value;
}

std::string writeJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

Json::Value pageObject(int handle)
{
    Json::Value value(Json::objectValue);
    value["$"] = "page";
    value["handle"] = handle;
    return value;
}

Json::Value jsonArray(std::initializer_list<Json::Value> values)
{
    Json::Value array(Json::arrayValue);
    for (const Json::Value& value : values)
        array.append(value);
    return array;
}

HostAddress HostAddress::of(const std::string& address)
{
    HostAddress host;
    host.port = static_cast<unsigned short>(std::stoi(address.substr(address.rfind(':') + 1)));
    host.origin = address.substr(0, address.size() - 1);
    PageClient reader(host);
    const std::string script = reader.exchange(http::verb::get, "/veltra.js", "").body();
    std::smatch found;
    if (!std::regex_search(script, found, std::regex("var SECRET = \"([0-9a-f]{64})\"")))
        throw std::runtime_error("no secret in /veltra.js of " + address);
    host.secret = found[1];
    return host;
}

Json::Value PageSide::answer(const Json::Value& call)
{
    std::lock_guard<std::mutex> guard(_lock);
    const std::string kind = call["kind"].asString();
    Json::Value reply(Json::objectValue);
    reply["ok"] = true;
    reply["value"] = Json::Value(Json::objectValue);
    reply["value"]["$"] = "void";
    if (kind == "window")
        reply["value"] = pageObject(1);
    else if (kind == "getProperty" && call["name"] == "console")
        reply["value"] = pageObject(2);
    else if (kind == "invoke" && call["handle"] == 2)
        _console.push_back(call["args"][0].asString());
    // The plug-in's batched console lines: the levels, then one argument per line.
    else if (kind == "invoke" && call["handle"] == 1 && call["name"] == "__FB_CONSOLE")
    {
        for (Json::ArrayIndex i = 1; i < call["args"].size(); ++i)
            _console.push_back(call["args"][i].asString());
        reply["value"] = true;
    }
    else if (kind == "evaluate" && call["script"] == "(pinged)")
        reply["value"] = pageObject(3);
    else if (kind == "invokeDefault")
    {
        _functionArgs.push_back(call["args"][0].asString());
        reply["value"] = "answered";
    }
    return reply;
}

bool PageSide::logged(const std::string& line) const
{
    std::lock_guard<std::mutex> guard(_lock);
    return std::find(_console.begin(), _console.end(), line) != _console.end();
}

std::size_t PageSide::loggedCount() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _console.size();
}

bool PageSide::called(const std::string& argument) const
{
    std::lock_guard<std::mutex> guard(_lock);
    return std::find(_functionArgs.begin(), _functionArgs.end(), argument) != _functionArgs.end();
}

PageClient::PageClient(HostAddress host) : _host(std::move(host))
{}

http::response<http::string_body> PageClient::exchange(http::verb verb, const std::string& target,
                                                       const std::string& body, bool inParts)
{
    http::request<http::string_body> request(verb, target, 11);
    request.set(http::field::host, "127.0.0.1:" + std::to_string(_host.port));
    request.set(http::field::origin, _host.origin);
    request.set("X-Veltra-Secret", _host.secret);
    if (inParts)
    {
        request.set(http::field::content_type, std::string(host::wireparts::MediaType) + "; charset=utf-8");
        request.set(http::field::accept, std::string(host::wireparts::MediaType));
    }
    request.keep_alive(true);
    request.body() = body;
    request.prepare_payload();

    std::lock_guard<std::mutex> guard(_httpLock);
    // A kept connection the host has closed meanwhile fails at once; the request then goes on a new one.
    for (int attempt = 0;; ++attempt)
    {
        const bool reused = _http != nullptr;
        try
        {
            if (!_http)
            {
                _http = std::make_unique<tcp::socket>(_httpIo);
                _http->connect({net::ip::make_address("127.0.0.1"), _host.port});
                limitWaits(_http->native_handle());
            }
            http::write(*_http, request);
            beast::flat_buffer buffer;
            http::response<http::string_body> response;
            http::read(*_http, buffer, response);
            if (!response.keep_alive())
                _http.reset();
            return response;
        }
        catch (const boost::system::system_error&)
        {
            _http.reset();
            if (!reused || attempt > 0)
                throw;
        }
    }
}

Json::Value PageClient::bridgeCall(const Json::Value& call)
{
    Json::Value body(Json::objectValue);
    body["page"] = Json::UInt64(_pageId);
    body["op"] = "call";
    body["call"] = call;
    Json::Value reply = parseJson(exchange(http::verb::post, "/bridge", writeJson(body)).body());
    while (reply.isMember("call"))
    {
        Json::Value answer = page.answer(reply["call"]["call"]);
        answer["page"] = Json::UInt64(_pageId);
        answer["op"] = "answer";
        answer["conversation"] = reply["conversation"];
        answer["id"] = reply["call"]["id"];
        ++conversationCalls;
        reply = parseJson(exchange(http::verb::post, "/bridge", writeJson(answer)).body());
    }
    return reply;
}

Json::Value PageClient::invoke(const Json::Value& object, const std::string& method, const Json::Value& args)
{
    Json::Value call(Json::objectValue);
    call["kind"] = "invoke";
    call["object"] = object["id"];
    call["name"] = method;
    call["args"] = args;
    return bridgeCall(call);
}

bool PageClient::connect()
{
    beast::error_code error;
    _socket.next_layer().connect({net::ip::make_address("127.0.0.1"), _host.port}, error);
    if (error)
        return false;
    limitWaits(_socket.next_layer().native_handle());
    _socket.set_option(websocket::stream_base::decorator(
        [origin = _host.origin](websocket::request_type& request) { request.set(http::field::origin, origin); }));
    _socket.handshake("127.0.0.1:" + std::to_string(_host.port), "/ws?secret=" + _host.secret, error);
    if (error)
        return false;
    _socket.text(true); // the host reads text only, as pages speak it
    const Json::Value hello = nextText([](const Json::Value&) { return true; });
    if (hello["op"] != "hello")
        return false;
    _pageId = hello["page"].asUInt64();
    return true;
}

Json::Value PageClient::create(int element, int width, int height,
                               const std::vector<std::pair<std::string, std::string>>& args)
{
    Json::Value message(Json::objectValue);
    message["op"] = "create";
    message["element"] = element;
    message["mime"] = "application/x-veltra";
    message["width"] = width;
    message["height"] = height;
    message["args"] = Json::Value(Json::arrayValue);
    Json::Value type(Json::arrayValue);
    type.append("type");
    type.append("application/x-veltra");
    message["args"].append(type);
    for (const auto& [name, value] : args)
    {
        Json::Value pair(Json::arrayValue);
        pair.append(name);
        pair.append(value);
        message["args"].append(pair);
    }
    send(message);
    return nextText([element](const Json::Value& m) {
        return (m["op"] == "created" || m["op"] == "createFailed") && m["element"] == element;
    });
}

Json::Value PageClient::nextText(const std::function<bool(const Json::Value&)>& wanted)
{
    for (;;)
    {
        beast::flat_buffer buffer;
        beast::error_code error;
        _socket.read(buffer, error);
        if (error)
            return Json::Value();
        const std::string data = beast::buffers_to_string(buffer.data());
        if (!_socket.got_text())
        {
            const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
            Json::Value picture(Json::objectValue);
            picture["op"] = "picture";
            picture["instance"] = (bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
            if (wanted(picture))
                return picture;
            continue;
        }
        Json::Value message = parseJson(data);
        if (message["op"] == "call")
        {
            Json::Value answer = page.answer(message["call"]);
            answer["op"] = "answer";
            answer["id"] = message["id"];
            // A socket closed or interrupted meanwhile ends the reading as a failed read does.
            _socket.write(net::buffer(writeJson(answer)), error);
            if (error)
                return Json::Value();
        }
        if (wanted(message))
            return message;
    }
}

void PageClient::send(const Json::Value& message)
{
    sendRaw(writeJson(message));
}

void PageClient::sendRaw(const std::string& text)
{
    _socket.write(net::buffer(text));
}

void PageClient::interrupt()
{
    ::shutdown(_socket.next_layer().native_handle(), SHUT_RDWR);
}

void PageClient::close()
{
    beast::error_code ignored;
    _socket.close(websocket::close_code::normal, ignored);
}

} // namespace veltra::test
