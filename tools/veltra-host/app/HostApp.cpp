#include "app/HostApp.h"

#include "app/PageHost.h"
#include "app/PageRouter.h"
#include "app/PageScriptText.h"
#include "capture/XvfbServer.h"
#include "site/HttpServer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace veltra::host {

struct HostApp::Impl : public SocketHandler
{
    explicit Impl(HostOptions hostOptions);
    ~Impl() override { shutdown(); }

    void onOpen(const std::shared_ptr<Connection>& connection) override;
    void onMessage(const std::shared_ptr<Connection>& connection, const std::string& text) override;
    void onClose(const std::shared_ptr<Connection>& connection) override;
    void shutdown();

    const HostOptions options;
    std::unique_ptr<XvfbServer> xvfb;
    std::string displayName;
    std::unique_ptr<PageService> pages;
    std::unique_ptr<HttpServer> server;
    bool down = false;
};

HostApp::Impl::Impl(HostOptions hostOptions) : options(std::move(hostOptions))
{
    displayName = options.display;
    if (displayName.empty())
    {
        const char* inherited = std::getenv("DISPLAY");
        displayName = inherited ? inherited : "";
    }
    if (displayName.empty())
    {
        xvfb = std::make_unique<XvfbServer>();
        displayName = xvfb->displayName();
    }
    // The plug-in's viewer opens its own connection to the display named in DISPLAY.
    const char* current = std::getenv("DISPLAY");
    if (!current || displayName != current)
        ::setenv("DISPLAY", displayName.c_str(), 1);
    if (options.singleProcess)
    {
        pages = std::make_unique<PageHost>(options, displayName);
    }
    else
    {
        HostOptions forProcesses = options;
        forProcesses.display = displayName;
        pages = std::make_unique<PageRouter>(forProcesses);
    }

    HttpServerOptions serverOptions;
    serverOptions.address = options.address;
    serverOptions.port = options.port;
    serverOptions.publicHost = options.publicHost;
    serverOptions.siteRoot = options.site;
    serverOptions.pageScriptTemplate = pageScriptTemplate();
    serverOptions.maxCallBodyBytes = options.maxCallBytes;
    // The page's answers to the plug-in's calls carry values as large as its calls do.
    serverOptions.maxWebSocketMessageBytes = std::max(serverOptions.maxWebSocketMessageBytes, options.maxCallBytes);
    // A bridge call blocks its server thread while it runs, and a page has at most one running (its
    // script waits for it). With a thread per page and two to spare, socket messages always find a
    // thread, however many pages wait: a page's answer to the plug-in never queues behind them.
    serverOptions.threads = static_cast<unsigned>(serverOptions.maxWebSockets) + 2;
    try
    {
        server = std::make_unique<HttpServer>(
            serverOptions, [this](const BridgeCall& call) { return pages->bridge(call); },
            std::shared_ptr<SocketHandler>(this, [](SocketHandler*) {}));
    }
    catch (const std::system_error& error)
    {
        throw std::runtime_error("cannot listen on " + options.address + ":" + std::to_string(options.port) + " (" +
                                 error.code().message() + "); another port can be chosen with --port");
    }
}

void HostApp::Impl::onOpen(const std::shared_ptr<Connection>& connection)
{
    pages->open(connection);
}

void HostApp::Impl::onMessage(const std::shared_ptr<Connection>& connection, const std::string& text)
{
    pages->message(connection->id(), text);
}

void HostApp::Impl::onClose(const std::shared_ptr<Connection>& connection)
{
    pages->close(connection->id());
}

void HostApp::Impl::shutdown()
{
    if (down)
        return;
    down = true;
    // The pages go first: that releases bridge requests waiting for the plug-in, so the server's
    // threads can end.
    if (pages)
        pages->shutdown();
    if (server)
        server->stop();
    server.reset();
    xvfb.reset();
}

HostApp::HostApp(HostOptions options) : _impl(std::make_unique<Impl>(std::move(options)))
{}

HostApp::~HostApp() = default;

std::string HostApp::address() const
{
    const std::string& name = _impl->options.publicHost.empty() ? _impl->options.address : _impl->options.publicHost;
    return "http://" + name + ":" + std::to_string(_impl->server->port()) + "/";
}

std::string HostApp::displayName() const
{
    return _impl->displayName;
}

bool HostApp::ownsDisplay() const
{
    return _impl->xvfb != nullptr;
}

std::size_t HostApp::instanceCount() const
{
    return _impl->pages->instanceCount();
}

std::size_t HostApp::pageCount() const
{
    return _impl->pages->pageCount();
}

void HostApp::shutdown()
{
    _impl->shutdown();
}

} // namespace veltra::host
