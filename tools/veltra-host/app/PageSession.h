#pragma once

#include "app/HostInstance.h"
#include "bridge/PageCalls.h"
#include "bridge/WireValue.h"
#include "browser/PluginObjectTable.h"
#include "capture/PictureEncoder.h"
#include "site/Connection.h"

#include <json/value.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace veltra::host {

class HostFunctions;
class PageScript;
class PluginModule;

/// What every page of one host shares.
struct PageSessionContext
{
    BrowserLoop& loop;
    HostFunctions& host;
    PluginModule& module;
    Display* display = nullptr;
    /// The MIME type the plug-in handles; elements of other types are refused.
    std::string mime;
    std::size_t maxInstances = 8;
    std::chrono::milliseconds answerLimit{30000};
    PictureFormat pictureFormat = PictureFormat::Jpeg;
    int pictureQuality = 80;
    /// Pictures wait while more than this is queued for the page (a slow page sees fewer frames).
    std::size_t maxQueuedPictureBytes = 4 * 1024 * 1024;
    /// Numbers instances across the whole host, so picture frames name theirs unambiguously.
    std::atomic<std::uint32_t>* nextInstanceKey = nullptr;
    /// Instances alive over all pages, closing ones included.
    std::atomic<std::size_t>* liveInstances = nullptr;
};

/// One page connected over its WebSocket: its plug-in instances, the plug-in objects it holds and
/// the calls between it and the plug-in. Messages from the page arrive on server threads and are
/// handed to the browser thread; everything touching the plug-in runs there.
///
/// Messages the page sends: "create" (an element: its type, size and name/value pairs), "destroy",
/// "input" (a DOM event on an instance's picture), "answer" (to a call made over the WebSocket) and
/// "releaseObject" (plug-in object references it drops). Messages it receives: "hello", "created" or
/// "createFailed", "destroyed", "call" (from the plug-in), "release" (page objects the host drops),
/// and binary picture frames: the instance number in 4 big-endian bytes, then a PNG or JPEG image.
class PageSession : public std::enable_shared_from_this<PageSession>
{
public:
    static std::shared_ptr<PageSession> open(PageSessionContext& context, std::shared_ptr<Connection> connection);
    ~PageSession();
    PageSession(const PageSession&) = delete;
    PageSession& operator=(const PageSession&) = delete;

    std::uint64_t id() const { return _connection->id(); }
    /// The page's channel, for notices outside the session's own messages.
    Connection& connection() const { return *_connection; }

    /// Server thread: one text message from the WebSocket. Throws WireError for a malformed one.
    void received(const Json::Value& message);
    /// Server thread: one POST /bridge request; blocks until its reply is known.
    Json::Value bridge(Json::Value body);
    /// Any thread: the page is gone; its instances are destroyed on the browser thread, in order.
    void close();

    /// Browser thread: sends the pictures that changed, unless the page lags behind.
    void sendPictures();
    /// Browser thread: offers an X event to the instances' pictures.
    bool handleDamage(const XEvent& event);
    /// Browser thread: destroys every instance and drops the page's plug-in objects.
    void destroyAll();

private:
    class InstanceScript;
    struct Element
    {
        std::unique_ptr<InstanceScript> script; // outlives the instance, which talks to the page through it
        std::unique_ptr<HostInstance> instance;
    };

    PageSession(PageSessionContext& context, std::shared_ptr<Connection> connection);

    void create(const Json::Value& message);
    void destroyRequested(const Json::Value& message);
    void destroyInstance(std::uint32_t key);
    void input(const Json::Value& message);
    void releaseObject(const Json::Value& message);
    Json::Value runPluginCall(const Json::Value& call);
    /// Releases the page objects among `values` from index `from` on, for a call that was not made.
    void giveBackPageObjects(const Json::Value& values, Json::ArrayIndex from);
    Json::Value describe(std::uint32_t owner, NPObject* object);
    PluginObjectIds idsFor(std::uint32_t owner);
    void post(void (PageSession::*handler)(const Json::Value&), Json::Value message);

    PageSessionContext& _context;
    const std::shared_ptr<Connection> _connection;
    std::shared_ptr<PageCalls> _calls;

    // Browser thread only.
    PluginObjectTable _objects;
    std::map<PluginObjectTable::Id, std::uint32_t> _owners; // the instance each object came from
    std::map<std::uint32_t, Element> _elements;
};

} // namespace veltra::host
