#include "app/HostApp.h"
#include "bridge/WireParts.h"

#include "BuildOutputs.h"
#include "TempDir.h"
#include "VirtualDisplay.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <json/reader.h>
#include <json/writer.h>

#include <gtest/gtest.h>

#include <future>
#include <regex>
#include <set>
#include <thread>

#include <sys/socket.h>

using namespace veltra::host;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

Json::Value parse(const std::string& text)
{
    Json::Value value;
    Json::Reader().parse(text, value);
    return value;
}

std::string write(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

Json::Value pageObject(int handle)
{
    Json::Value value(Json::objectValue);
    value["$"] = "page";
    value["handle"] = handle;
    return value;
}

/// What a page does when the plug-in calls it: a window (1) with a console (2) whose log lines are
/// kept, a handler function (3) for "pinged", and every function call answered "answered".
class PageSide
{
public:
    Json::Value answer(const Json::Value& call)
    {
        std::lock_guard<std::mutex> guard(_lock);
        const std::string kind = call["kind"].asString();
        Json::Value reply(Json::objectValue);
        reply["ok"] = true;
        reply["value"] = Json::Value(Json::objectValue);
        reply["value"]["$"] = "void";
        if (kind == "window")
            reply["value"] = pageObject(1);
        else if (kind == "getProperty" && call["name"] == "console")
            reply["value"] = pageObject(2);
        else if (kind == "invoke" && call["handle"] == 2)
            console.push_back(call["args"][0].asString());
        // The plug-in's batched console lines: the levels, then one argument per line.
        else if (kind == "invoke" && call["handle"] == 1 && call["name"] == "__FB_CONSOLE")
        {
            for (Json::ArrayIndex i = 1; i < call["args"].size(); ++i)
                console.push_back(call["args"][i].asString());
            reply["value"] = true;
        }
        else if (kind == "evaluate" && call["script"] == "(pinged)")
            reply["value"] = pageObject(3);
        else if (kind == "invokeDefault")
        {
            functionArgs.push_back(call["args"][0].asString());
            reply["value"] = "answered";
        }
        return reply;
    }

    bool logged(const std::string& line) const
    {
        std::lock_guard<std::mutex> guard(_lock);
        return std::find(console.begin(), console.end(), line) != console.end();
    }

    bool called(const std::string& argument) const
    {
        std::lock_guard<std::mutex> guard(_lock);
        return std::find(functionArgs.begin(), functionArgs.end(), argument) != functionArgs.end();
    }

private:
    mutable std::mutex _lock; // guards the fields below: the socket and bridge calls answer from two threads
    std::vector<std::string> console;
    std::vector<std::string> functionArgs;
};

/// The whole host in both its modes: every page in this process (--single-process), or a viewer
/// process per page (the default).
class HostAppThreads : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!veltra::test::ensureDisplay(&why))
            GTEST_SKIP() << why;
        HostOptions options;
        options.site = site.path();
        options.port = 0;
        options.plugin = veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY);
        options.display = std::getenv("DISPLAY");
        options.pictureFormat = PictureFormat::Png;
        options.maxCallBytes = CallLimit;
        options.singleProcess = GetParam();
        options.program = veltra::test::builtProgram("veltra-host");
        app = std::make_unique<HostApp>(options);
        const std::string address = app->address(); // http://127.0.0.1:PORT/
        port = static_cast<unsigned short>(std::stoi(address.substr(address.rfind(':') + 1)));
        origin = address.substr(0, address.size() - 1);
        std::smatch found;
        const std::string script = exchange(http::verb::get, "/veltra.js", "").body();
        ASSERT_TRUE(std::regex_search(script, found, std::regex("var SECRET = \"([0-9a-f]{64})\"")));
        secret = found[1];
    }

    http::response<http::string_body> exchange(http::verb verb, const std::string& target, const std::string& body,
                                               bool inParts = false)
    {
        net::io_context context;
        tcp::socket connection(context);
        connection.connect({net::ip::make_address("127.0.0.1"), port});
        const timeval limit{20, 0};
        setsockopt(connection.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        http::request<http::string_body> request(verb, target, 11);
        request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
        request.set(http::field::origin, origin);
        request.set("X-Veltra-Secret", secret);
        if (inParts)
        {
            request.set(http::field::content_type, std::string(wireparts::MediaType) + "; charset=utf-8");
            request.set(http::field::accept, std::string(wireparts::MediaType));
        }
        request.body() = body;
        request.prepare_payload();
        http::write(connection, request);
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        http::read(connection, buffer, response);
        return response;
    }

    /// One synchronous call from the page, answering what the plug-in asks meanwhile, as veltra.js does.
    Json::Value bridgeCall(const Json::Value& call)
    {
        Json::Value body(Json::objectValue);
        body["page"] = Json::UInt64(pageId);
        body["op"] = "call";
        body["call"] = call;
        Json::Value reply = parse(exchange(http::verb::post, "/bridge", write(body)).body());
        while (reply.isMember("call"))
        {
            Json::Value answer = page.answer(reply["call"]["call"]);
            answer["page"] = Json::UInt64(pageId);
            answer["op"] = "answer";
            answer["conversation"] = reply["conversation"];
            answer["id"] = reply["call"]["id"];
            ++conversationCalls;
            reply = parse(exchange(http::verb::post, "/bridge", write(answer)).body());
        }
        return reply;
    }

    void connect()
    {
        socket.next_layer().connect({net::ip::make_address("127.0.0.1"), port});
        const timeval limit{20, 0};
        setsockopt(socket.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        socket.set_option(websocket::stream_base::decorator(
            [this](websocket::request_type& request) { request.set(http::field::origin, origin); }));
        socket.handshake("127.0.0.1:" + std::to_string(port), "/ws?secret=" + secret);
        socket.text(true); // the host reads text only, as pages speak it
        Json::Value hello = nextText([](const Json::Value&) { return true; });
        ASSERT_EQ(hello["op"], "hello");
        pageId = hello["page"].asUInt64();
    }

    /// Reads the socket, answering the plug-in's calls, until a message satisfies `wanted`; null when
    /// the socket fails first. A picture frame reads as {"op":"picture","instance":N}.
    Json::Value nextText(const std::function<bool(const Json::Value&)>& wanted)
    {
        for (;;)
        {
            beast::flat_buffer buffer;
            beast::error_code error;
            socket.read(buffer, error);
            if (error)
                return Json::Value();
            const std::string data = beast::buffers_to_string(buffer.data());
            if (!socket.got_text())
            {
                const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
                Json::Value picture(Json::objectValue);
                picture["op"] = "picture";
                picture["instance"] = (bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
                if (wanted(picture))
                    return picture;
                continue;
            }
            Json::Value message = parse(data);
            if (message["op"] == "call")
            {
                Json::Value answer = page.answer(message["call"]);
                answer["op"] = "answer";
                answer["id"] = message["id"];
                socket.write(net::buffer(write(answer)));
            }
            if (wanted(message))
                return message;
        }
    }

    void send(const Json::Value& message) { socket.write(net::buffer(write(message))); }

    /// Page processes tell the host their instance counts as they change, a moment after the page hears.
    bool instancesBecome(std::size_t count)
    {
        for (int i = 0; i < 400 && app->instanceCount() != count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        return app->instanceCount() == count;
    }

    static constexpr std::size_t CallLimit = 1024 * 1024;
    veltra::test::TempDir site;
    std::unique_ptr<HostApp> app;
    unsigned short port = 0;
    std::string origin;
    std::string secret;
    net::io_context io;
    websocket::stream<tcp::socket> socket{io};
    std::uint64_t pageId = 0;
    PageSide page;
    std::atomic<int> conversationCalls{0};
};

} // namespace

TEST_P(HostAppThreads, AnElementBecomesAnInstanceThatThePageDrivesAndThatGoesWithThePage)
{
    connect();
    Json::Value create = parse(R"({"op":"create","element":7,"mime":"application/x-veltra","width":64,"height":48,
                                   "args":[["type","application/x-veltra"],["onping","pinged"]]})");
    send(create);
    Json::Value created =
        nextText([](const Json::Value& m) { return m["op"] == "created" || m["op"] == "createFailed"; });
    ASSERT_EQ(created["op"], "created") << created.toStyledString();
    EXPECT_EQ(created["element"], 7);
    const unsigned instance = created["instance"].asUInt();
    const Json::Value object = created["object"];
    ASSERT_EQ(object["$"], "plugin");
    bool hasLog = false;
    for (const Json::Value& name : created["members"]["methods"])
        hasLog = hasLog || name == "log";
    EXPECT_TRUE(hasLog) << created["members"].toStyledString();
    EXPECT_TRUE(instancesBecome(1));

    // Once it has its window the instance is ready, says so in the console, and its picture comes;
    // the console line follows the call that wrote it, so the two may come in either order.
    bool pictured = false;
    nextText([&](const Json::Value& m) {
        pictured = pictured || (m["op"] == "picture" && m["instance"].asUInt() == instance);
        return pictured && page.logged("plugin ready");
    });
    EXPECT_TRUE(page.logged("plugin ready"));
    EXPECT_TRUE(pictured) << "no picture of the instance";

    // A call that reaches the page while the page waits for it: the page's part rides on the reply.
    Json::Value evaluate = Json::Value(Json::objectValue);
    evaluate["kind"] = "invoke";
    evaluate["object"] = object["id"];
    evaluate["name"] = "evaluate";
    evaluate["args"].append("(pinged)");
    Json::Value reply = bridgeCall(evaluate);
    EXPECT_TRUE(reply["done"].asBool());
    EXPECT_TRUE(reply["ok"].asBool()) << reply.toStyledString();
    EXPECT_GE(conversationCalls.load(), 1);

    // Console lines never hold up the call that logs them: they follow it.
    Json::Value log = Json::Value(Json::objectValue);
    log["kind"] = "invoke";
    log["object"] = object["id"];
    log["name"] = "log";
    log["args"].append("after the call");
    reply = bridgeCall(log);
    EXPECT_TRUE(reply["ok"].asBool()) << reply.toStyledString();
    nextText([&](const Json::Value&) { return page.logged("after the call"); });
    EXPECT_TRUE(page.logged("after the call"));

    // A page function handed over and called from a plug-in thread arrives over the socket.
    Json::Value fromWorker = Json::Value(Json::objectValue);
    fromWorker["kind"] = "invoke";
    fromWorker["object"] = object["id"];
    fromWorker["name"] = "callFromWorker";
    fromWorker["args"].append(pageObject(3));
    fromWorker["args"].append("from a worker");
    auto pending = std::async(std::launch::async, [&] { return bridgeCall(fromWorker); });
    nextText([&](const Json::Value&) { return page.called("from a worker"); });
    EXPECT_TRUE(pending.get()["ok"].asBool());
    EXPECT_TRUE(page.called("from a worker"));

    // The plug-in's own errors, and calls on unknown objects, come back as failed calls.
    Json::Value unknown = log;
    unknown["object"] = 999;
    reply = bridgeCall(unknown);
    EXPECT_FALSE(reply["ok"].asBool());
    EXPECT_EQ(reply["error"], "Unknown plug-in object 999");
    // Page objects sent with a call that cannot be made are all given back, before and after the bad value.
    Json::Value badArgument = log;
    badArgument["args"] = Json::Value(Json::arrayValue);
    badArgument["args"].append(pageObject(5));
    badArgument["args"].append(parse(R"({"$":"plugin","id":999})"));
    badArgument["args"].append(pageObject(6));
    reply = bridgeCall(badArgument);
    EXPECT_EQ(reply["error"], "unknown plug-in object 999");
    std::set<int> released;
    nextText([&](const Json::Value& m) {
        if (m["op"] == "release")
            released.insert(m["handle"].asInt());
        return released.count(5) && released.count(6);
    });
    EXPECT_EQ(released, (std::set<int>{5, 6}));

    Json::Value missing = log;
    missing["args"] = Json::Value(Json::arrayValue);
    EXPECT_FALSE(bridgeCall(missing)["ok"].asBool());

    // Broken messages are answered with the reason; the connection stays usable.
    socket.write(net::buffer(std::string("{not json")));
    Json::Value error = nextText([](const Json::Value& m) { return m["op"] == "error"; });
    EXPECT_NE(error["error"].asString().find("not JSON"), std::string::npos) << error.toStyledString();
    Json::Value stranger = parse(R"({"page":987654,"op":"call","call":{"kind":"invoke"}})");
    auto refused = exchange(http::verb::post, "/bridge", write(stranger));
    EXPECT_EQ(refused.result(), http::status::internal_server_error);
    EXPECT_EQ(refused.body(), "bridge call failed: no page 987654 is connected\n");

    // Closing the page destroys its instance; the host goes on.
    socket.close(websocket::close_code::normal);
    for (int i = 0; i < 400 && (app->instanceCount() || app->pageCount()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(app->instanceCount(), 0u);
    EXPECT_EQ(app->pageCount(), 0u);
}

TEST_P(HostAppThreads, ElementsBeyondThePageLimitOrOfAnotherTypeAreRefused)
{
    connect();
    send(parse(R"({"op":"create","element":1,"mime":"application/x-other","width":10,"height":10,"args":[]})"));
    Json::Value refused = nextText([](const Json::Value& m) { return m["op"] == "createFailed"; });
    EXPECT_EQ(refused["error"], "No plug-in handles \"application/x-other\"");
    send(parse(R"({"op":"create","element":2,"mime":"application/x-veltra","width":0,"height":10,"args":[]})"));
    refused = nextText([](const Json::Value& m) { return m["op"] == "createFailed"; });
    EXPECT_EQ(refused["error"], "An element must be 1 to 8192 pixels wide and high");
    for (int element = 10; element < 18; ++element)
    {
        Json::Value create = parse(R"({"op":"create","mime":"application/x-veltra","width":16,"height":16,"args":[]})");
        create["element"] = element;
        send(create);
        ASSERT_EQ(nextText([](const Json::Value& m) { return m["op"] == "created"; })["element"], element);
    }
    send(parse(R"({"op":"create","element":99,"mime":"application/x-veltra","width":16,"height":16,"args":[]})"));
    refused = nextText([](const Json::Value& m) { return m["op"] == "createFailed"; });
    EXPECT_EQ(refused["error"], "Too many plug-in elements on one page (at most 8)");
    EXPECT_TRUE(instancesBecome(8));
    // The host stops with the page still open: its instances go first.
    app->shutdown();
    EXPECT_EQ(app->instanceCount(), 0u);
}

TEST_P(HostAppThreads, LongTextsCrossInPartsBothWaysAndCallsPastTheLimitAreRefused)
{
    connect();
    send(parse(R"({"op":"create","element":1,"mime":"application/x-veltra","width":16,"height":16,"args":[]})"));
    const Json::Value created = nextText([](const Json::Value& m) { return m["op"] == "created"; });
    ASSERT_EQ(created["object"]["$"], "plugin");

    // A script of half a megabyte, with characters JSON escapes and multi-byte ones, goes to the
    // plug-in beside the JSON; the plug-in hands it to the page, and it comes back the same way.
    std::string script = "(\"名称\\\" 😀\t\u0001\")";
    while (script.size() < 512 * 1024)
        script += " + \"管线 \\\\ é\"";
    Json::Value body(Json::objectValue);
    body["page"] = Json::UInt64(pageId);
    body["op"] = "call";
    body["call"]["kind"] = "invoke";
    body["call"]["object"] = created["object"]["id"];
    body["call"]["name"] = "evaluate";
    body["call"]["args"].append(script);
    const std::string sent = wireparts::write(body, true);
    ASSERT_LT(sent.find('\n'), 300u) << "the script travels beside the JSON";
    const auto reply = exchange(http::verb::post, "/bridge", sent, true);
    ASSERT_EQ(reply.result(), http::status::ok) << reply.body();
    EXPECT_EQ(reply[http::field::content_type], std::string(wireparts::MediaType) + "; charset=utf-8");
    EXPECT_LT(reply.body().find('\n'), 300u) << "and comes back beside it";
    // The page answers what the plug-in asks on the way (the window first), as veltra.js does.
    Json::Value asked = wireparts::read(reply.body(), true);
    bool scriptSeen = false;
    while (asked.isMember("call"))
    {
        const Json::Value& call = asked["call"]["call"];
        if (call["kind"] == "evaluate")
        {
            EXPECT_EQ(call["script"].asString(), script);
            scriptSeen = true;
        }
        Json::Value answer = page.answer(call);
        answer["page"] = Json::UInt64(pageId);
        answer["op"] = "answer";
        answer["conversation"] = asked["conversation"];
        answer["id"] = asked["call"]["id"];
        asked =
            wireparts::read(exchange(http::verb::post, "/bridge", wireparts::write(answer, true), true).body(), true);
    }
    EXPECT_TRUE(scriptSeen);
    EXPECT_TRUE(asked["done"].asBool());
    EXPECT_TRUE(asked["ok"].asBool()) << asked.toStyledString();

    // Past the configured limit: refused before the host reads the body, with the reason.
    body["call"]["args"][0] = std::string(CallLimit, 'x');
    const auto refused = exchange(http::verb::post, "/bridge", wireparts::write(body, true), true);
    EXPECT_EQ(refused.result(), http::status::payload_too_large);
    EXPECT_EQ(refused.body(), "request body too large\n");
    EXPECT_EQ(app->pageCount(), 1u) << "the page goes on";
}

std::string modeName(const ::testing::TestParamInfo<bool>& mode)
{
    return mode.param ? "SingleProcess" : "PageProcesses";
}

INSTANTIATE_TEST_SUITE_P(Modes, HostAppThreads, ::testing::Bool(), modeName);
