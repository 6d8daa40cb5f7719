#include "site/Responses.h"

namespace veltra::host {

StringReply textReply(unsigned version, bool keepAlive, http::status status, std::string text)
{
    StringReply reply(status, version);
    addCommonHeaders(reply);
    reply.set(http::field::content_type, "text/plain; charset=utf-8");
    reply.set(http::field::cache_control, "no-store");
    reply.keep_alive(keepAlive);
    reply.body() = std::move(text);
    reply.body() += '\n';
    reply.prepare_payload();
    return reply;
}

StringReply textReply(const Request& request, http::status status, std::string text)
{
    return textReply(request.version(), request.keep_alive(), status, std::move(text));
}

http::response<http::empty_body> headOnly(const StringReply& reply)
{
    http::response<http::empty_body> head(reply.base());
    head.content_length(reply.body().size());
    return head;
}

} // namespace veltra::host
