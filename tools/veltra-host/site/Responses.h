#pragma once

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <string>
#include <variant>

namespace veltra::host {

namespace http = boost::beast::http;

using Request = http::request<http::string_body>;
using StringReply = http::response<http::string_body>;
/// Everything a request can be answered with: text, a head without body, or a file streamed from disk.
using Reply = std::variant<StringReply, http::response<http::empty_body>, http::response<http::file_body>>;

/// Headers every reply carries, whatever it holds.
template <class Body>
void addCommonHeaders(http::response<Body>& reply)
{
    reply.set(http::field::server, "veltra-host");
    reply.set("X-Content-Type-Options", "nosniff");
}

/// A short plain-text reply; used for every refusal, so the body names why.
StringReply textReply(unsigned version, bool keepAlive, http::status status, std::string text);
StringReply textReply(const Request& request, http::status status, std::string text);

/// The same reply without its body, as HEAD wants it.
http::response<http::empty_body> headOnly(const StringReply& reply);

} // namespace veltra::host
