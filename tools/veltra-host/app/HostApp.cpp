#include "app/HostApp.h"

#include "app/PageSession.h"
#include "app/PageScriptText.h"
#include "capture/XvfbServer.h"
#include "bridge/WireParts.h"
#include "bridge/WireValue.h"
#include "browser/HostFunctions.h"
#include "browser/PluginModule.h"
#include "site/HttpServer.h"

#include <X11/Xlib.h>

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace veltra::host {

namespace {

Json::Value parseJson(const std::string& text)
{
    return wireparts::read(text, false);
}

std::string writeJson(const Json::Value& value)
{
    return wireparts::write(value, false);
}

/// The MIME type of the first entry of a plug-in's description ("type:suffixes:name;...").
std::string firstMime(const std::string& description)
{
    return description.substr(0, description.find_first_of(":;"));
}

} // namespace

struct HostApp::Impl : public SocketHandler
{
    explicit Impl(HostOptions hostOptions);
    ~Impl() override { shutdown(); }

    void onOpen(const std::shared_ptr<Connection>& connection) override;
    void onMessage(const std::shared_ptr<Connection>& connection, const std::string& text) override;
    void onClose(const std::shared_ptr<Connection>& connection) override;
    BridgeAnswer bridge(const BridgeCall& call);

    std::shared_ptr<PageSession> session(std::uint64_t id) const;
    std::vector<std::shared_ptr<PageSession>> sessions() const;
    void startPictureTicks();
    void pumpPictures();
    void shutdown();

    const HostOptions options;
    std::unique_ptr<XvfbServer> xvfb;
    std::string displayName;
    Display* display = nullptr;
    BrowserLoop loop;
    std::unique_ptr<HostFunctions> host;
    std::unique_ptr<PluginModule> module;
    std::atomic<std::uint32_t> nextInstanceKey{1};
    std::atomic<std::size_t> liveInstances{0};
    std::unique_ptr<PageSessionContext> context;
    std::unique_ptr<HttpServer> server;

    mutable std::mutex lock; // guards pages and stopping
    std::map<std::uint64_t, std::shared_ptr<PageSession>> pages;
    bool stopping = false;
    std::condition_variable tickWake;
    std::thread ticker;
    std::atomic<bool> pumpQueued{false};
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
    // Every use of the host's own connection happens on the browser thread.
    display = loop.runSync([this] { return XOpenDisplay(displayName.c_str()); });
    if (!display)
        throw std::runtime_error("cannot open the X display \"" + displayName + "\"");

    host = std::make_unique<HostFunctions>(loop, display);
    // A finished picture goes out at once instead of at the next tick.
    host->setPictureListener([this] {
        if (!pumpQueued.exchange(true))
            loop.post([this] { pumpPictures(); });
    });
    module = std::make_unique<PluginModule>(options.plugin, *host);
    const std::string mime = firstMime(module->mimeDescription());
    if (mime.empty())
        throw std::runtime_error("the plug-in " + options.plugin + " names no MIME type");

    context = std::make_unique<PageSessionContext>(PageSessionContext{loop, *host, *module, display, mime});
    context->maxInstances = options.maxInstancesPerPage;
    context->answerLimit = options.answerLimit;
    context->pictureFormat = options.pictureFormat;
    context->pictureQuality = options.pictureQuality;
    context->nextInstanceKey = &nextInstanceKey;
    context->liveInstances = &liveInstances;

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
            serverOptions, [this](const BridgeCall& call) { return bridge(call); },
            std::shared_ptr<SocketHandler>(this, [](SocketHandler*) {}));
    }
    catch (const std::system_error& error)
    {
        throw std::runtime_error("cannot listen on " + options.address + ":" + std::to_string(options.port) + " (" +
                                 error.code().message() + "); another port can be chosen with --port");
    }
    startPictureTicks();
}

void HostApp::Impl::onOpen(const std::shared_ptr<Connection>& connection)
{
    std::lock_guard<std::mutex> guard(lock);
    if (stopping)
    {
        connection->close();
        return;
    }
    pages[connection->id()] = PageSession::open(*context, connection);
    std::printf("veltra-host: page %llu connected\n", static_cast<unsigned long long>(connection->id()));
    std::fflush(stdout);
}

void HostApp::Impl::onMessage(const std::shared_ptr<Connection>& connection, const std::string& text)
{
    auto page = session(connection->id());
    if (!page)
        return;
    try
    {
        page->received(parseJson(text));
    }
    catch (const std::exception& error)
    {
        // A page that breaks the protocol is told why; it keeps its connection.
        Json::Value notice(Json::objectValue);
        notice["op"] = "error";
        notice["error"] = error.what();
        connection->send(writeJson(notice));
    }
}

void HostApp::Impl::onClose(const std::shared_ptr<Connection>& connection)
{
    std::shared_ptr<PageSession> page;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto found = pages.find(connection->id());
        if (found == pages.end())
            return;
        page = found->second;
        pages.erase(found);
    }
    page->close();
    // Once its instances are gone, in order behind whatever the page still had queued.
    loop.post([this, id = connection->id()] {
        std::printf("veltra-host: page %llu closed; %zu instances alive\n", static_cast<unsigned long long>(id),
                    liveInstances.load());
        std::fflush(stdout);
    });
}

BridgeAnswer HostApp::Impl::bridge(const BridgeCall& call)
{
    Json::Value request = wireparts::read(call.body, wireparts::isMediaType(call.contentType, wireparts::MediaType));
    if (!request.isObject() || !request["page"].isIntegral())
        throw WireError("a bridge request names its page in \"page\"");
    auto page = session(request["page"].asUInt64());
    if (!page)
        throw WireError("no page " + request["page"].asString() + " is connected");
    // Pages that read replies in parts get their long texts unescaped; others plain JSON.
    const bool inParts = wireparts::accepts(call.accept, wireparts::MediaType);
    BridgeAnswer answer;
    answer.body = wireparts::write(page->bridge(std::move(request)), inParts);
    if (inParts)
        answer.contentType = std::string(wireparts::MediaType) + "; charset=utf-8";
    return answer;
}

std::shared_ptr<PageSession> HostApp::Impl::session(std::uint64_t id) const
{
    std::lock_guard<std::mutex> guard(lock);
    auto found = pages.find(id);
    return found == pages.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<PageSession>> HostApp::Impl::sessions() const
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::shared_ptr<PageSession>> all;
    for (const auto& [id, page] : pages)
        all.push_back(page);
    return all;
}

void HostApp::Impl::startPictureTicks()
{
    ticker = std::thread([this] {
        std::unique_lock<std::mutex> guard(lock);
        while (!stopping)
        {
            tickWake.wait_for(guard, options.picturePeriod);
            // One pump waits in the queue at most: a busy browser thread sends fewer pictures.
            if (!stopping && !pumpQueued.exchange(true))
                loop.post([this] { pumpPictures(); });
        }
    });
}

void HostApp::Impl::pumpPictures()
{
    pumpQueued = false;
    const auto all = sessions();
    while (XPending(display))
    {
        XEvent event;
        XNextEvent(display, &event);
        for (const auto& page : all)
            if (page->handleDamage(event))
                break;
    }
    for (const auto& page : all)
        page->sendPictures();
}

void HostApp::Impl::shutdown()
{
    if (down)
        return;
    down = true;
    std::vector<std::shared_ptr<PageSession>> open;
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        for (auto& [id, page] : pages)
            open.push_back(page);
        pages.clear();
    }
    tickWake.notify_all();
    if (ticker.joinable())
        ticker.join();
    // Closing first releases bridge requests that wait on the browser thread, so the server's
    // threads can end.
    for (const auto& page : open)
        page->close();
    if (server)
        server->stop();
    for (const auto& page : open)
        loop.runSync([&] { page->destroyAll(); });
    open.clear();
    if (module)
        module->shutdown();
    if (display)
        loop.runSync([this] { XCloseDisplay(display); });
    display = nullptr;
    loop.stop();
    server.reset();
    module.reset();
    host.reset();
    xvfb.reset();
}

HostApp::HostApp(HostOptions options) : _impl(std::make_unique<Impl>(std::move(options))) {}

HostApp::~HostApp() = default;

std::string HostApp::address() const
{
    const std::string& name =
        _impl->options.publicHost.empty() ? _impl->options.address : _impl->options.publicHost;
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
    return _impl->liveInstances.load();
}

std::size_t HostApp::pageCount() const
{
    return _impl->sessions().size();
}

void HostApp::shutdown()
{
    _impl->shutdown();
}

} // namespace veltra::host
