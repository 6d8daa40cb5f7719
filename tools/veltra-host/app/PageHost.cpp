#include "app/PageHost.h"

#include "app/PageSession.h"
#include "bridge/WireParts.h"
#include "bridge/WireValue.h"
#include "browser/HostFunctions.h"
#include "browser/PluginModule.h"

#include <X11/Xlib.h>

#include <json/value.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace veltra::host {
namespace {

/// The MIME type of the first entry of a plug-in's description ("type:suffixes:name;...").
std::string firstMime(const std::string& description)
{
    return description.substr(0, description.find_first_of(":;"));
}

} // namespace

struct PageHost::Impl
{
    Impl(const HostOptions& options, const std::string& displayName, bool reportPages);

    std::shared_ptr<PageSession> session(std::uint64_t id) const;
    std::vector<std::shared_ptr<PageSession>> sessions() const;
    void startPictureTicks();
    void pumpPictures();
    void shutdown();

    const HostOptions options;
    const bool reportPages;
    Display* display = nullptr;
    BrowserLoop loop;
    std::unique_ptr<HostFunctions> host;
    std::unique_ptr<PluginModule> module;
    std::atomic<std::uint32_t> nextInstanceKey{1};
    std::atomic<std::size_t> liveInstances{0};
    std::unique_ptr<PageSessionContext> context;

    mutable std::mutex lock; // guards pages and stopping
    std::map<std::uint64_t, std::shared_ptr<PageSession>> pages;
    bool stopping = false;
    std::condition_variable tickWake;
    std::thread ticker;
    std::atomic<bool> pumpQueued{false};
    bool down = false;
};

PageHost::Impl::Impl(const HostOptions& hostOptions, const std::string& displayName, bool reports)
    : options(hostOptions), reportPages(reports)
{
    // Every use of this connection happens on the browser thread.
    display = loop.runSync([&] { return XOpenDisplay(displayName.c_str()); });
    if (!display)
        throw std::runtime_error("cannot open the X display \"" + displayName + "\"");

    std::string mime;
    try
    {
        host = std::make_unique<HostFunctions>(loop, display);
        // A finished picture goes out at once instead of at the next tick.
        host->setPictureListener([this] {
            if (!pumpQueued.exchange(true))
                loop.post([this] { pumpPictures(); });
        });
        module = std::make_unique<PluginModule>(options.plugin, *host);
        mime = firstMime(module->mimeDescription());
        if (mime.empty())
            throw std::runtime_error("the plug-in " + options.plugin + " names no MIME type");
    }
    catch (...)
    {
        // A start that fails lets go of what it took, the display connection last.
        module.reset();
        host.reset();
        loop.runSync([this] { XCloseDisplay(display); });
        display = nullptr;
        throw;
    }

    context = std::make_unique<PageSessionContext>(PageSessionContext{loop, *host, *module, display, mime});
    context->maxInstances = options.maxInstancesPerPage;
    context->answerLimit = options.answerLimit;
    context->pictureFormat = options.pictureFormat;
    context->pictureQuality = options.pictureQuality;
    context->nextInstanceKey = &nextInstanceKey;
    context->liveInstances = &liveInstances;
    startPictureTicks();
}

std::shared_ptr<PageSession> PageHost::Impl::session(std::uint64_t id) const
{
    std::lock_guard<std::mutex> guard(lock);
    auto found = pages.find(id);
    return found == pages.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<PageSession>> PageHost::Impl::sessions() const
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::shared_ptr<PageSession>> all;
    for (const auto& [id, page] : pages)
        all.push_back(page);
    return all;
}

void PageHost::Impl::startPictureTicks()
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

void PageHost::Impl::pumpPictures()
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

void PageHost::Impl::shutdown()
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
    // Closing first releases bridge requests that wait on the browser thread.
    for (const auto& page : open)
        page->close();
    for (const auto& page : open)
        loop.runSync([&] { page->destroyAll(); });
    open.clear();
    if (module)
        module->shutdown();
    if (display)
        loop.runSync([this] { XCloseDisplay(display); });
    display = nullptr;
    loop.stop();
    module.reset();
    host.reset();
}

PageHost::PageHost(const HostOptions& options, const std::string& displayName, bool reportPages)
    : _impl(std::make_unique<Impl>(options, displayName, reportPages))
{}

PageHost::~PageHost()
{
    shutdown();
}

void PageHost::open(const std::shared_ptr<Connection>& connection)
{
    std::lock_guard<std::mutex> guard(_impl->lock);
    if (_impl->stopping)
    {
        connection->close();
        return;
    }
    _impl->pages[connection->id()] = PageSession::open(*_impl->context, connection);
    if (!_impl->reportPages)
        return;
    std::printf("veltra-host: page %llu connected\n", static_cast<unsigned long long>(connection->id()));
    std::fflush(stdout);
}

void PageHost::message(std::uint64_t id, const std::string& text)
{
    auto page = _impl->session(id);
    if (!page)
        return;
    try
    {
        page->received(wireparts::read(text, false));
    }
    catch (const std::exception& error)
    {
        // A page that breaks the protocol is told why; it keeps its connection.
        Json::Value notice(Json::objectValue);
        notice["op"] = "error";
        notice["error"] = error.what();
        page->connection().send(wireparts::write(notice, false));
    }
}

void PageHost::close(std::uint64_t id)
{
    std::shared_ptr<PageSession> page;
    {
        std::lock_guard<std::mutex> guard(_impl->lock);
        auto found = _impl->pages.find(id);
        if (found == _impl->pages.end())
            return;
        page = found->second;
        _impl->pages.erase(found);
    }
    page->close();
    if (!_impl->reportPages)
        return;
    // Once its instances are gone, in order behind whatever the page still had queued.
    _impl->loop.post([impl = _impl.get(), id] {
        std::printf("veltra-host: page %llu closed; %zu instances alive\n", static_cast<unsigned long long>(id),
                    impl->liveInstances.load());
        std::fflush(stdout);
    });
}

BridgeAnswer PageHost::bridge(const BridgeCall& call)
{
    Json::Value request = wireparts::read(call.body, wireparts::isMediaType(call.contentType, wireparts::MediaType));
    if (!request.isObject() || !request["page"].isIntegral())
        throw WireError("a bridge request names its page in \"page\"");
    auto page = _impl->session(request["page"].asUInt64());
    if (!page)
        throw WireError("no page " + request["page"].asString() + " is connected");
    return bridgeAnswer(page->bridge(std::move(request)), call);
}

std::size_t PageHost::instanceCount() const
{
    return _impl->liveInstances.load();
}

std::size_t PageHost::pageCount() const
{
    return _impl->sessions().size();
}

void PageHost::shutdown()
{
    _impl->shutdown();
}

} // namespace veltra::host
