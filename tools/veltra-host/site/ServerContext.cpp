#include "site/ServerContext.h"

namespace veltra::host {

namespace {

std::string fillSecret(std::string text, const std::string& secret)
{
    static const std::string placeholder = "%SECRET%";
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + secret.size()))
        text.replace(at, placeholder.size(), secret);
    return text;
}

std::optional<SitePaths> sitePaths(const std::filesystem::path& root)
{
    if (root.empty())
        return std::nullopt;
    return SitePaths(root);
}

} // namespace

ServerContext::ServerContext(HttpServerOptions serverOptions, unsigned short boundPort, BridgeHandler bridgeHandler,
                             std::shared_ptr<SocketHandler> socketHandler)
    : options(std::move(serverOptions))
    , security(options.publicHost.empty() ? options.address : options.publicHost, boundPort)
    , site(sitePaths(options.siteRoot))
    , pageScript(fillSecret(options.pageScriptTemplate, security.secret()))
    , bridge(std::move(bridgeHandler))
    , sockets(std::move(socketHandler))
    , webSockets(options.maxWebSockets)
{
}

} // namespace veltra::host
