#include "app/PageRouter.h"

#include "app/PageProcess.h"
#include "bridge/PageCalls.h"
#include "bridge/WireParts.h"
#include "bridge/WireValue.h"

#include <json/value.h>

#include <cstdio>

namespace veltra::host {
namespace {

// Loading the plug-in takes well under a second; a process not ready by then has failed.
constexpr std::chrono::seconds kReadyLimit{20};
constexpr std::chrono::seconds kEndLimit{10};

/// The page a bridge request names. Long texts travel after the message's JSON, so only that is read.
std::uint64_t pageOf(const BridgeCall& call)
{
    const bool inParts = wireparts::isMediaType(call.contentType, wireparts::MediaType);
    const std::string head = inParts ? call.body.substr(0, call.body.find('\n')) : call.body;
    // The head alone is plain JSON: its long texts stand there as references to the parts.
    const Json::Value request = wireparts::read(head, false);
    if (!request.isObject() || !request["page"].isIntegral())
        throw WireError("a bridge request names its page in \"page\"");
    return request["page"].asUInt64();
}

std::string notice(const char* op, const std::string& error)
{
    Json::Value message(Json::objectValue);
    message["op"] = op;
    message["error"] = error;
    return wireparts::write(message, false);
}

} // namespace

PageRouter::PageRouter(HostOptions options) : _options(std::move(options))
{
    // The first spare shows at once whether the plug-in can start at all, as the single process would.
    _spare = PageProcess::start(_options);
    if (!_spare->waitReady(kReadyLimit))
    {
        const std::string why = _spare->endReason();
        throw std::runtime_error("the plug-in does not start in a page process (it " +
                                 (why.empty() ? "was not ready in time" : why) + "; see above)");
    }
    _spareMaker = std::thread([this] { keepSpare(); });
}

PageRouter::~PageRouter()
{
    shutdown();
}

void PageRouter::keepSpare()
{
    std::unique_lock<std::mutex> guard(_lock);
    while (!_stopping)
    {
        // Processes of closed pages are let go once they have ended: their channels and threads with them.
        std::vector<std::shared_ptr<PageProcess>> ended;
        for (auto closing = _closing.begin(); closing != _closing.end();)
        {
            if ((*closing)->running())
                ++closing;
            else
            {
                ended.push_back(std::move(*closing));
                closing = _closing.erase(closing);
            }
        }
        if (!ended.empty())
        {
            guard.unlock();
            ended.clear();
            guard.lock();
            continue;
        }
        if (_spare && _spare->running())
        {
            _spareWanted.wait_for(guard, std::chrono::milliseconds(250));
            continue;
        }
        if (_spare)
        {
            // It ended before any page took it (a plug-in that cannot load, say; it said why): the next
            // one waits a while, so that a broken set-up does not start processes without end.
            _spare.reset();
            _spareWanted.wait_for(guard, std::chrono::seconds(5));
            continue;
        }
        guard.unlock();
        std::shared_ptr<PageProcess> made;
        try
        {
            made = PageProcess::start(_options);
        }
        catch (const std::exception& error)
        {
            std::fprintf(stderr, "veltra-host: %s\n", error.what());
        }
        guard.lock();
        if (made)
            _spare = std::move(made);
        else // try again later, or when a page asks
            _spareWanted.wait_for(guard, std::chrono::seconds(5));
    }
}

std::shared_ptr<PageProcess> PageRouter::takeProcess()
{
    std::shared_ptr<PageProcess> taken;
    {
        std::lock_guard<std::mutex> guard(_lock);
        taken = std::move(_spare);
        _spare.reset();
    }
    _spareWanted.notify_all();
    if (!taken || !taken->running())
        taken = PageProcess::start(_options);
    if (!taken->waitReady(kReadyLimit))
        throw PageProcessGone("the page process did not start (see the host's output)");
    return taken;
}

void PageRouter::open(const std::shared_ptr<Connection>& connection)
{
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (_stopping)
        {
            connection->close();
            return;
        }
    }
    const std::uint64_t id = connection->id();
    std::shared_ptr<PageProcess> page;
    try
    {
        page = takeProcess();
        page->attach(connection, [this, id, pid = page->pid(),
                                  link = std::weak_ptr<Connection>(connection)](const std::string& why, bool pageOpen) {
            ended(id, static_cast<int>(pid), why, pageOpen ? link.lock() : nullptr);
        });
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "veltra-host: page %llu: %s\n", static_cast<unsigned long long>(id), error.what());
        connection->send(notice("error", std::string("no viewer for this page: ") + error.what()));
        connection->close();
        return;
    }
    std::lock_guard<std::mutex> guard(_lock);
    _pages[id] = page;
    std::printf("veltra-host: page %llu connected (viewer process %d)\n", static_cast<unsigned long long>(id),
                static_cast<int>(page->pid()));
    std::fflush(stdout);
}

void PageRouter::ended(std::uint64_t page, int pid, const std::string& why, const std::shared_ptr<Connection>& openPage)
{
    if (!openPage)
    {
        // The page closed and its process has destroyed its instances; one that did not end cleanly is named.
        if (why != "exited with status 0")
        {
            std::fprintf(stderr, "veltra-host: page %llu: its viewer process %d %s after the page closed\n",
                         static_cast<unsigned long long>(page), pid, why.c_str());
            std::fflush(stderr);
        }
        std::printf("veltra-host: page %llu closed; %zu instances alive\n", static_cast<unsigned long long>(page),
                    instanceCount());
        std::fflush(stdout);
        return;
    }
    std::fprintf(stderr, "veltra-host: page %llu: its viewer process %d %s\n", static_cast<unsigned long long>(page),
                 pid, why.c_str());
    std::fflush(stderr);
    // The page keeps its connection: its calls fail with the reason until it reloads.
    openPage->send(notice("crashed", std::string(kInstanceGone) + ": its viewer process " + why));
}

void PageRouter::message(std::uint64_t id, const std::string& text)
{
    std::shared_ptr<PageProcess> page = process(id);
    if (!page)
        return;
    if (page->running())
    {
        page->message(text);
        return;
    }
    // After a crash: an element the page adds now hears why it cannot start; the rest has no one to reach.
    Json::Value message;
    try
    {
        message = wireparts::read(text, false);
    }
    catch (const std::exception&)
    {
        return;
    }
    if (message.isObject() && message["op"] == "create")
        if (std::shared_ptr<Connection> connection = page->connection())
        {
            Json::Value reply(Json::objectValue);
            reply["op"] = "createFailed";
            reply["element"] = message["element"];
            reply["error"] = kInstanceGone;
            connection->send(wireparts::write(reply, false));
        }
}

void PageRouter::close(std::uint64_t id)
{
    std::shared_ptr<PageProcess> page;
    {
        std::lock_guard<std::mutex> guard(_lock);
        auto found = _pages.find(id);
        if (found == _pages.end())
            return;
        page = found->second;
        _pages.erase(found);
        _closing.push_back(page);
    }
    if (page->running())
        page->close();
}

BridgeAnswer PageRouter::bridge(const BridgeCall& call)
{
    const std::uint64_t id = pageOf(call);
    std::shared_ptr<PageProcess> page = process(id);
    if (!page)
        throw WireError("no page " + std::to_string(id) + " is connected");
    try
    {
        return page->bridge(call);
    }
    catch (const PageProcessGone&)
    {
        // What a failed call answers, so that the page's script throws the reason.
        return bridgeAnswer(finalError(kInstanceGone), call);
    }
}

std::shared_ptr<PageProcess> PageRouter::process(std::uint64_t page) const
{
    std::lock_guard<std::mutex> guard(_lock);
    auto found = _pages.find(page);
    return found == _pages.end() ? nullptr : found->second;
}

std::size_t PageRouter::instanceCount() const
{
    std::lock_guard<std::mutex> guard(_lock);
    std::size_t count = 0;
    for (const auto& [id, page] : _pages)
        count += page->running() ? page->instances() : 0;
    for (const auto& page : _closing)
        count += page->running() ? page->instances() : 0;
    return count;
}

std::size_t PageRouter::pageCount() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _pages.size();
}

void PageRouter::shutdown()
{
    std::vector<std::shared_ptr<PageProcess>> ending;
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (_stopping)
            return;
        _stopping = true;
        for (auto& [id, page] : _pages)
            ending.push_back(page);
        _pages.clear();
        for (auto& page : _closing)
            ending.push_back(page);
        _closing.clear();
        if (_spare)
            ending.push_back(std::move(_spare));
        _spare.reset();
    }
    _spareWanted.notify_all();
    if (_spareMaker.joinable())
        _spareMaker.join();
    // Every process hears at once, then each has a while to destroy its instances in order.
    for (auto& page : ending)
        if (page->running())
            page->close();
    for (auto& page : ending)
        page->finish(kEndLimit);
}

} // namespace veltra::host
