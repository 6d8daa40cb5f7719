#include "bridge/PageCalls.h"
#include "bridge/WireValue.h"
#include "browser/PageScript.h"

#include <json/reader.h>

// Xlib's macros, pulled in by the NPAPI headers, collide with GoogleTest's names.
#undef None
#undef Bool

#include <gtest/gtest.h>

#include <future>

using namespace veltra::host;
using namespace std::chrono_literals;

namespace {

Json::Value parse(const std::string& text)
{
    Json::Value value;
    Json::Reader().parse(text, value);
    return value;
}

Json::Value object(std::initializer_list<std::pair<const char*, Json::Value>> fields)
{
    Json::Value value(Json::objectValue);
    for (const auto& [name, field] : fields)
        value[name] = field;
    return value;
}

Json::Value evaluateCall(const char* script)
{
    return object({{"kind", "evaluate"}, {"script", script}});
}

Json::Value okReply(Json::Value value)
{
    return object({{"ok", true}, {"value", std::move(value)}});
}

/// The page's end of the WebSocket: what the host sent, in order.
class SocketMessages
{
public:
    void push(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(_lock);
        _messages.push_back(parse(text));
        _arrived.notify_all();
    }

    /// The next message; null when none comes within two seconds.
    Json::Value next()
    {
        std::unique_lock<std::mutex> lock(_lock);
        if (!_arrived.wait_for(lock, 2s, [&] { return !_messages.empty(); }))
            return Json::Value();
        Json::Value message = _messages.front();
        _messages.pop_front();
        return message;
    }

    std::size_t size() const
    {
        std::lock_guard<std::mutex> guard(_lock);
        return _messages.size();
    }

private:
    mutable std::mutex _lock;
    std::condition_variable _arrived;
    std::deque<Json::Value> _messages;
};

class BridgePageCalls : public ::testing::Test
{
protected:
    void open(std::chrono::milliseconds answerLimit = 5s)
    {
        calls = std::make_shared<PageCalls>(
            loop, [this](std::string message) { socket.push(message); },
            [this](const Json::Value& call) { return runner(call); }, answerLimit);
    }

    /// Asks the page from the browser thread, as the plug-in does; the answer comes later.
    std::future<Json::Value> askLater(Json::Value call)
    {
        return std::async(std::launch::async, [this, call] { return loop.runSync([&] { return calls->ask(call); }); });
    }

    BrowserLoop loop;
    SocketMessages socket;
    std::function<Json::Value(const Json::Value&)> runner = [](const Json::Value&) { return okReply("ran"); };
    std::shared_ptr<PageCalls> calls;
};

} // namespace

TEST_F(BridgePageCalls, CallsOutsideAnyRequestGoOverTheSocketAndWaitForTheAnswer)
{
    open();
    auto answer = askLater(evaluateCall("1 + 3"));
    Json::Value sent = socket.next();
    ASSERT_EQ(sent["op"], "call");
    EXPECT_EQ(sent["call"]["script"], "1 + 3");
    calls->answered(object({{"id", sent["id"]}, {"ok", true}, {"value", 4}}));
    EXPECT_EQ(answer.get(), Json::Value(4));

    // What the page's script threw comes back as the call's error, word for word.
    auto failing = askLater(evaluateCall("nope()"));
    sent = socket.next();
    calls->answered(object({{"id", sent["id"]}, {"ok", false}, {"error", "nope is not defined"}}));
    try
    {
        failing.get();
        FAIL() << "the page's error was lost";
    }
    catch (const PageScriptError& error)
    {
        EXPECT_STREQ(error.what(), "nope is not defined");
    }
}

TEST_F(BridgePageCalls, APageCallDuringThePagesRequestRidesOnItsReply)
{
    open();
    // The plug-in, while running the page's request, asks the page something.
    runner = [this](const Json::Value& call) {
        EXPECT_TRUE(loop.isBrowserThread());
        EXPECT_EQ(call["kind"], "getProperty");
        Json::Value fromPage = calls->ask(evaluateCall("document.title"));
        return okReply(fromPage.asString() + "!");
    };
    Json::Value reply = calls->request(object({{"op", "call"}, {"call", object({{"kind", "getProperty"}})}}));
    ASSERT_TRUE(reply.isMember("conversation")) << reply.toStyledString();
    ASSERT_EQ(reply["call"]["call"]["script"], "document.title");
    EXPECT_FALSE(reply["done"].asBool());

    Json::Value answer = object({{"op", "answer"},
                                 {"conversation", reply["conversation"]},
                                 {"id", reply["call"]["id"]},
                                 {"ok", true},
                                 {"value", "Demo"}});
    Json::Value final = calls->request(answer);
    EXPECT_TRUE(final["done"].asBool());
    EXPECT_TRUE(final["ok"].asBool());
    EXPECT_EQ(final["value"], "Demo!");
    EXPECT_EQ(socket.size(), 0u) << "nothing went over the socket, which the blocked page cannot read";

    // The conversation is over: answering into it again is refused.
    EXPECT_THROW(calls->request(answer), WireError);
}

TEST_F(BridgePageCalls, AWaitingCallServesTheRequestThePageMadeBeforeReadingIt)
{
    open();
    // The plug-in calls the page over the socket; the page, busy, starts a synchronous request of
    // its own first. The browser thread runs that request while it waits, as a browser would.
    auto answer = askLater(evaluateCall("handler()"));
    Json::Value sent = socket.next();
    ASSERT_EQ(sent["op"], "call");

    runner = [](const Json::Value&) { return okReply("served while waiting"); };
    Json::Value reply = calls->request(object({{"op", "call"}, {"call", object({{"kind", "invoke"}})}}));
    EXPECT_TRUE(reply["done"].asBool());
    EXPECT_EQ(reply["value"], "served while waiting");

    calls->answered(object({{"id", sent["id"]}, {"ok", true}, {"value", true}}));
    EXPECT_EQ(answer.get(), Json::Value(true));
}

TEST_F(BridgePageCalls, APageThatNeverAnswersFailsTheCallInTime)
{
    open(100ms);
    auto answer = askLater(evaluateCall("while (true) {}"));
    Json::Value sent = socket.next();
    try
    {
        answer.get();
        FAIL() << "the call waited for ever";
    }
    catch (const PageScriptError& error)
    {
        EXPECT_STREQ(error.what(), "The page did not answer within 100 ms");
    }
    // A late answer is dropped, and the next call works.
    calls->answered(object({{"id", sent["id"]}, {"ok", true}, {"value", 1}}));
    auto next = askLater(evaluateCall("2"));
    sent = socket.next();
    calls->answered(object({{"id", sent["id"]}, {"ok", true}, {"value", 2}}));
    EXPECT_EQ(next.get(), Json::Value(2));
}

TEST_F(BridgePageCalls, ClosingEndsEveryWaitWithAnErrorAndRefusesWhatFollows)
{
    open();
    auto waitingCall = askLater(evaluateCall("slow()"));
    ASSERT_EQ(socket.next()["op"], "call");
    calls->close();
    try
    {
        waitingCall.get();
        FAIL() << "the call outlived its page";
    }
    catch (const PageScriptError& error)
    {
        EXPECT_STREQ(error.what(), "The page closed before answering");
    }

    // A request still queued behind other work when the page goes is answered, not run.
    open();
    std::promise<void> release;
    loop.post([blocker = release.get_future().share()] { blocker.wait(); });
    bool ran = false;
    runner = [&ran](const Json::Value&) {
        ran = true;
        return okReply("too late");
    };
    auto waitingRequest = std::async(std::launch::async, [this] {
        return calls->request(object({{"op", "call"}, {"call", object({{"kind", "invoke"}})}}));
    });
    std::this_thread::sleep_for(50ms);
    calls->close();
    Json::Value reply = waitingRequest.get();
    release.set_value();
    loop.runSync([] {}); // whatever was queued has run by now
    EXPECT_TRUE(reply["done"].asBool());
    EXPECT_FALSE(reply["ok"].asBool());
    EXPECT_EQ(reply["error"], "The page is closing");
    EXPECT_FALSE(ran);

    // Afterwards every call and request fails at once.
    EXPECT_THROW(loop.runSync([&] { return calls->ask(evaluateCall("1")); }), PageScriptError);
    Json::Value refused = calls->request(object({{"op", "call"}, {"call", object({{"kind", "invoke"}})}}));
    EXPECT_EQ(refused["error"], "The page is closing");
    EXPECT_TRUE(calls->closed());
}

TEST_F(BridgePageCalls, MalformedRequestsAreRefusedWithTheReason)
{
    open();
    auto refusal = [&](const Json::Value& body) {
        try
        {
            calls->request(body);
        }
        catch (const WireError& error)
        {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal(Json::Value("call")), "a bridge request must be a JSON object");
    EXPECT_EQ(refusal(object({{"op", "dance"}})), "unknown bridge request \"dance\"");
    EXPECT_EQ(refusal(object({{"op", "call"}})), "a call request lacks its \"call\" object");
    EXPECT_EQ(refusal(object({{"op", "answer"}, {"conversation", 77}, {"id", 1}})), "unknown conversation 77");
    EXPECT_EQ(refusal(object({{"op", "answer"}, {"conversation", -1}})),
              "the message lacks a positive whole \"conversation\"");
    EXPECT_THROW(calls->answered(object({{"ok", true}})), WireError);
}
