#pragma once

#include "browser/BrowserLoop.h"

#include <json/value.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veltra::host {

/// The final reply of a page's call that failed: {"done":true,"ok":false,"error":message}.
Json::Value finalError(const std::string& message);

/// The calls between one page and the browser thread, both ways, without deadlock.
///
/// The page calls the plug-in synchronously (POST /bridge): the request waits on a server thread
/// while the browser thread runs it. The plug-in calls the page (events, console lines, evaluated
/// script) from the browser thread and waits for the answer. Script on the page is single
/// threaded, so while it is blocked in a synchronous request it cannot read its WebSocket; a call
/// sent there would wait for ever. So:
/// - a page call made while one of the page's own requests runs goes back as the reply to that
///   request ({"conversation":C,"call":{...}}); the page runs it and posts its answer, which
///   continues the same conversation until the final result ({"done":true,...}) ends it;
/// - any other page call goes over the WebSocket; while the browser thread waits for its answer it
///   also runs requests that page makes meanwhile, as a browser runs script re-entrantly, so a
///   page that started a synchronous request before reading the call is served, then answers.
/// A page that does not answer within the time limit, or goes away, fails the call.
class PageCalls : public std::enable_shared_from_this<PageCalls>
{
public:
    /// Sends a text message to the page over its WebSocket; from any thread, never blocking.
    using Send = std::function<void(std::string message)>;
    /// Runs one of the page's requests on the browser thread; answers {"ok":true,"value":V} or
    /// {"ok":false,"error":"..."}.
    using Run = std::function<Json::Value(const Json::Value& call)>;

    PageCalls(BrowserLoop& loop, Send send, Run run, std::chrono::milliseconds answerLimit);
    PageCalls(const PageCalls&) = delete;
    PageCalls& operator=(const PageCalls&) = delete;

    /// Browser thread: asks the page and returns the answer's "value" (JSON null when it gave none).
    /// Throws PageScriptError with the page's message when its script threw, or when the page
    /// closed or did not answer in time.
    Json::Value ask(const Json::Value& call);
    /// Any thread: a message that needs no answer, sent over the WebSocket.
    void tell(const Json::Value& message);

    /// Server thread: one POST /bridge body ({"op":"call","call":{...}} or
    /// {"op":"answer","conversation":C,"id":N,...}); blocks until the reply is known and returns it.
    /// Throws WireError for a malformed body or an unknown conversation.
    Json::Value request(Json::Value body);
    /// Any thread: the page's answer to a call sent over the WebSocket ({"id":N,"ok":...}).
    void answered(Json::Value answer);

    /// Any thread: the page is gone. Waiting calls and requests end with errors; later ones fail
    /// at once. Idempotent.
    void close();
    bool closed() const;

private:
    struct Conversation
    {
        std::uint64_t id = 0;
        Json::Value call;
        std::deque<Json::Value> replies; // for the waiting request, oldest first
    };
    using ConversationPtr = std::shared_ptr<Conversation>;

    Json::Value awaitReply(const ConversationPtr& conversation);
    void runNextRequest();
    void run(const ConversationPtr& conversation);

    BrowserLoop& _loop;
    const Send _send;
    const Run _run;
    const std::chrono::milliseconds _answerLimit;

    mutable std::mutex _lock; // guards the fields below
    std::condition_variable _changed;
    bool _closed = false;
    std::uint64_t _lastCallId = 0;
    std::uint64_t _lastConversationId = 0;
    std::map<std::uint64_t, std::optional<Json::Value>> _answers; // calls waiting, by id
    std::map<std::uint64_t, ConversationPtr> _conversations;      // requests not yet finished
    std::deque<ConversationPtr> _waiting;                          // requests not yet started

    // Browser thread only: the page's requests being run, innermost last.
    std::vector<ConversationPtr> _running;
};

} // namespace veltra::host
