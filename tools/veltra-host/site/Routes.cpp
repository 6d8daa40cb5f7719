#include "site/Routes.h"

#include "site/ServerContext.h"
#include "site/UrlText.h"

#include <exception>

namespace veltra::host {

namespace {

const char* const PageScriptPath = "/veltra.js";
const char* const BridgePath = "/bridge";

bool isGetOrHead(const Request& request)
{
    return request.method() == http::verb::get || request.method() == http::verb::head;
}

StringReply refuse(const Request& request, const Refusal& refusal)
{
    return textReply(request, static_cast<http::status>(refusal.status), refusal.reason);
}

StringReply methodNotAllowed(const Request& request, const char* allowed)
{
    StringReply reply = textReply(request, http::status::method_not_allowed, std::string("use ") + allowed);
    reply.set(http::field::allow, allowed);
    return reply;
}

Reply stringOrHead(const Request& request, StringReply reply)
{
    if (request.method() == http::verb::head)
        return headOnly(reply);
    return reply;
}

Reply pageScript(const ServerContext& context, const Request& request)
{
    if (!isGetOrHead(request))
        return methodNotAllowed(request, "GET, HEAD");
    if (auto refusal = context.security.check(request, RequestKind::PageScript))
        return refuse(request, *refusal);
    StringReply reply(http::status::ok, request.version());
    addCommonHeaders(reply);
    reply.set(http::field::content_type, "text/javascript; charset=utf-8");
    reply.set(http::field::cache_control, "no-store");
    // Browsers then refuse to hand the script (and its secret) to pages of other sites.
    reply.set("Cross-Origin-Resource-Policy", "same-origin");
    reply.keep_alive(request.keep_alive());
    reply.body() = context.pageScript;
    reply.prepare_payload();
    return stringOrHead(request, std::move(reply));
}

Reply bridgeCall(const ServerContext& context, const Request& request)
{
    if (request.method() != http::verb::post)
        return methodNotAllowed(request, "POST");
    if (auto refusal = context.security.check(request, RequestKind::Bridge))
        return refuse(request, *refusal);
    if (!context.bridge)
        return textReply(request, http::status::not_found, "no bridge in this server");

    StringReply reply(http::status::ok, request.version());
    std::string contentType;
    try {
        const auto header = [&](http::field field) {
            const auto value = request[field];
            return std::string_view(value.data(), value.size());
        };
        BridgeAnswer answer = context.bridge(BridgeCall{request.body(), header(http::field::content_type),
                                                        header(http::field::accept)});
        reply.body() = std::move(answer.body);
        contentType = std::move(answer.contentType);
    } catch (const std::exception& error) {
        return textReply(request, http::status::internal_server_error, std::string("bridge call failed: ") + error.what());
    } catch (...) {
        return textReply(request, http::status::internal_server_error, "bridge call failed");
    }
    addCommonHeaders(reply);
    reply.set(http::field::content_type, contentType);
    reply.set(http::field::cache_control, "no-store");
    reply.keep_alive(request.keep_alive());
    reply.prepare_payload();
    return reply;
}

Reply staticFile(const ServerContext& context, const Request& request)
{
    if (!isGetOrHead(request))
        return methodNotAllowed(request, "GET, HEAD");
    if (auto refusal = context.security.check(request, RequestKind::StaticFile))
        return refuse(request, *refusal);
    if (!context.site)
        return textReply(request, http::status::not_found, "no site folder");

    const std::string_view target(request.target().data(), request.target().size());
    const SiteLookup lookup = context.site->resolve(target);
    if (lookup.outcome == SiteLookup::Outcome::Forbidden)
        return textReply(request, http::status::forbidden, lookup.reason);
    if (!lookup.found())
        return textReply(request, http::status::not_found, lookup.reason);

    http::file_body::value_type file;
    boost::beast::error_code error;
    file.open(lookup.file.c_str(), boost::beast::file_mode::scan, error);
    if (error)
        return textReply(request, http::status::not_found, "file cannot be read");

    const auto size = file.size();
    if (request.method() == http::verb::head) {
        http::response<http::empty_body> head(http::status::ok, request.version());
        addCommonHeaders(head);
        head.set(http::field::content_type, lookup.contentType);
        head.content_length(size);
        head.keep_alive(request.keep_alive());
        return head;
    }
    http::response<http::file_body> reply(std::piecewise_construct, std::make_tuple(std::move(file)),
                                          std::make_tuple(http::status::ok, request.version()));
    addCommonHeaders(reply);
    reply.set(http::field::content_type, lookup.contentType);
    reply.content_length(size);
    reply.keep_alive(request.keep_alive());
    return reply;
}

} // namespace

bool isBridgeTarget(std::string_view target)
{
    return splitTarget(target).path == BridgePath;
}

Reply route(const ServerContext& context, const Request& request)
{
    const std::string_view path = splitTarget(std::string_view(request.target().data(), request.target().size())).path;
    if (path == PageScriptPath)
        return pageScript(context, request);
    if (path == BridgePath)
        return bridgeCall(context, request);
    return staticFile(context, request);
}

} // namespace veltra::host
