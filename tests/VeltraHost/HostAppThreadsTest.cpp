#include "app/HostApp.h"
#include "bridge/WireParts.h"

#include "HostUnderTest.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <thread>

using namespace veltra::host;
using veltra::test::PageClient;
using veltra::test::pageObject;
using veltra::test::parseJson;
using veltra::test::writeJson;
namespace http = boost::beast::http;

namespace {

/// The whole host in both its modes: every page in this process (--single-process), or a viewer
/// process per page (the default).
class HostAppThreads : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!veltra::test::prepareHostTest(&why))
            GTEST_SKIP() << why;
        HostOptions options =
            veltra::test::hostOptionsForTests(site.path(), veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY));
        options.maxCallBytes = CallLimit;
        options.singleProcess = GetParam();
        app = std::make_unique<HostApp>(options);
        client = std::make_unique<PageClient>(veltra::test::HostAddress::of(app->address()));
    }

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
    std::unique_ptr<PageClient> client;
};

} // namespace

TEST_P(HostAppThreads, AnElementBecomesAnInstanceThatThePageDrivesAndThatGoesWithThePage)
{
    ASSERT_TRUE(client->connect());
    Json::Value create = parseJson(R"({"op":"create","element":7,"mime":"application/x-veltra","width":64,"height":48,
                                   "args":[["type","application/x-veltra"],["onping","pinged"]]})");
    client->send(create);
    Json::Value created =
        client->nextText([](const Json::Value& m) { return m["op"] == "created" || m["op"] == "createFailed"; });
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
    client->nextText([&](const Json::Value& m) {
        pictured = pictured || (m["op"] == "picture" && m["instance"].asUInt() == instance);
        return pictured && client->page.logged("plugin ready");
    });
    EXPECT_TRUE(client->page.logged("plugin ready"));
    EXPECT_TRUE(pictured) << "no picture of the instance";

    // A call that reaches the page while the page waits for it: the page's part rides on the reply.
    Json::Value evaluate = Json::Value(Json::objectValue);
    evaluate["kind"] = "invoke";
    evaluate["object"] = object["id"];
    evaluate["name"] = "evaluate";
    evaluate["args"].append("(pinged)");
    Json::Value reply = client->bridgeCall(evaluate);
    EXPECT_TRUE(reply["done"].asBool());
    EXPECT_TRUE(reply["ok"].asBool()) << reply.toStyledString();
    EXPECT_GE(client->conversationCalls.load(), 1);

    // Console lines never hold up the call that logs them: they follow it.
    Json::Value log = Json::Value(Json::objectValue);
    log["kind"] = "invoke";
    log["object"] = object["id"];
    log["name"] = "log";
    log["args"].append("after the call");
    reply = client->bridgeCall(log);
    EXPECT_TRUE(reply["ok"].asBool()) << reply.toStyledString();
    client->nextText([&](const Json::Value&) { return client->page.logged("after the call"); });
    EXPECT_TRUE(client->page.logged("after the call"));

    // A page function handed over and called from a plug-in thread arrives over the socket.
    Json::Value fromWorker = Json::Value(Json::objectValue);
    fromWorker["kind"] = "invoke";
    fromWorker["object"] = object["id"];
    fromWorker["name"] = "callFromWorker";
    fromWorker["args"].append(pageObject(3));
    fromWorker["args"].append("from a worker");
    auto pending = std::async(std::launch::async, [&] { return client->bridgeCall(fromWorker); });
    client->nextText([&](const Json::Value&) { return client->page.called("from a worker"); });
    EXPECT_TRUE(pending.get()["ok"].asBool());
    EXPECT_TRUE(client->page.called("from a worker"));

    // The plug-in's own errors, and calls on unknown objects, come back as failed calls.
    Json::Value unknown = log;
    unknown["object"] = 999;
    reply = client->bridgeCall(unknown);
    EXPECT_FALSE(reply["ok"].asBool());
    EXPECT_EQ(reply["error"], "Unknown plug-in object 999");
    // Page objects sent with a call that cannot be made are all given back, before and after the bad value.
    Json::Value badArgument = log;
    badArgument["args"] = Json::Value(Json::arrayValue);
    badArgument["args"].append(pageObject(5));
    badArgument["args"].append(parseJson(R"({"$":"plugin","id":999})"));
    badArgument["args"].append(pageObject(6));
    reply = client->bridgeCall(badArgument);
    EXPECT_EQ(reply["error"], "unknown plug-in object 999");
    std::set<int> released;
    client->nextText([&](const Json::Value& m) {
        if (m["op"] == "release")
            released.insert(m["handle"].asInt());
        return released.count(5) && released.count(6);
    });
    EXPECT_EQ(released, (std::set<int>{5, 6}));

    Json::Value missing = log;
    missing["args"] = Json::Value(Json::arrayValue);
    EXPECT_FALSE(client->bridgeCall(missing)["ok"].asBool());

    // Broken messages are answered with the reason; the connection stays usable.
    client->sendRaw("{not json");
    Json::Value error = client->nextText([](const Json::Value& m) { return m["op"] == "error"; });
    EXPECT_NE(error["error"].asString().find("not JSON"), std::string::npos) << error.toStyledString();
    Json::Value stranger = parseJson(R"({"page":987654,"op":"call","call":{"kind":"invoke"}})");
    auto refused = client->exchange(http::verb::post, "/bridge", writeJson(stranger));
    EXPECT_EQ(refused.result(), http::status::internal_server_error);
    EXPECT_EQ(refused.body(), "bridge call failed: no page 987654 is connected\n");

    // Closing the page destroys its instance; the host goes on.
    client->close();
    for (int i = 0; i < 400 && (app->instanceCount() || app->pageCount()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(app->instanceCount(), 0u);
    EXPECT_EQ(app->pageCount(), 0u);
}

TEST_P(HostAppThreads, ElementsBeyondThePageLimitOrOfAnotherTypeAreRefused)
{
    ASSERT_TRUE(client->connect());
    client->send(
        parseJson(R"({"op":"create","element":1,"mime":"application/x-other","width":10,"height":10,"args":[]})"));
    Json::Value refused = client->nextText([](const Json::Value& m) { return m["op"] == "createFailed"; });
    EXPECT_EQ(refused["error"], "No plug-in handles \"application/x-other\"");
    client->send(
        parseJson(R"({"op":"create","element":2,"mime":"application/x-veltra","width":0,"height":10,"args":[]})"));
    refused = client->nextText([](const Json::Value& m) { return m["op"] == "createFailed"; });
    EXPECT_EQ(refused["error"], "An element must be 1 to 8192 pixels wide and high");
    for (int element = 10; element < 18; ++element)
    {
        Json::Value create =
            parseJson(R"({"op":"create","mime":"application/x-veltra","width":16,"height":16,"args":[]})");
        create["element"] = element;
        client->send(create);
        ASSERT_EQ(client->nextText([](const Json::Value& m) { return m["op"] == "created"; })["element"], element);
    }
    client->send(
        parseJson(R"({"op":"create","element":99,"mime":"application/x-veltra","width":16,"height":16,"args":[]})"));
    refused = client->nextText([](const Json::Value& m) { return m["op"] == "createFailed"; });
    EXPECT_EQ(refused["error"], "Too many plug-in elements on one page (at most 8)");
    EXPECT_TRUE(instancesBecome(8));
    // The host stops with the page still open: its instances go first.
    app->shutdown();
    EXPECT_EQ(app->instanceCount(), 0u);
}

TEST_P(HostAppThreads, LongTextsCrossInPartsBothWaysAndCallsPastTheLimitAreRefused)
{
    ASSERT_TRUE(client->connect());
    client->send(
        parseJson(R"({"op":"create","element":1,"mime":"application/x-veltra","width":16,"height":16,"args":[]})"));
    const Json::Value created = client->nextText([](const Json::Value& m) { return m["op"] == "created"; });
    ASSERT_EQ(created["object"]["$"], "plugin");

    // A script of half a megabyte, with characters JSON escapes and multi-byte ones, goes to the
    // plug-in beside the JSON; the plug-in hands it to the page, and it comes back the same way.
    std::string script = "(\"名称\\\" 😀\t\u0001\")";
    while (script.size() < 512 * 1024)
        script += " + \"管线 \\\\ é\"";
    Json::Value body(Json::objectValue);
    body["page"] = Json::UInt64(client->pageId());
    body["op"] = "call";
    body["call"]["kind"] = "invoke";
    body["call"]["object"] = created["object"]["id"];
    body["call"]["name"] = "evaluate";
    body["call"]["args"].append(script);
    const std::string sent = wireparts::write(body, true);
    ASSERT_LT(sent.find('\n'), 300u) << "the script travels beside the JSON";
    const auto reply = client->exchange(http::verb::post, "/bridge", sent, true);
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
        Json::Value answer = client->page.answer(call);
        answer["page"] = Json::UInt64(client->pageId());
        answer["op"] = "answer";
        answer["conversation"] = asked["conversation"];
        answer["id"] = asked["call"]["id"];
        asked = wireparts::read(
            client->exchange(http::verb::post, "/bridge", wireparts::write(answer, true), true).body(), true);
    }
    EXPECT_TRUE(scriptSeen);
    EXPECT_TRUE(asked["done"].asBool());
    EXPECT_TRUE(asked["ok"].asBool()) << asked.toStyledString();

    // Past the configured limit: refused before the host reads the body, with the reason.
    body["call"]["args"][0] = std::string(CallLimit, 'x');
    const auto refused = client->exchange(http::verb::post, "/bridge", wireparts::write(body, true), true);
    EXPECT_EQ(refused.result(), http::status::payload_too_large);
    EXPECT_EQ(refused.body(), "request body too large\n");
    EXPECT_EQ(app->pageCount(), 1u) << "the page goes on";
}

std::string modeName(const ::testing::TestParamInfo<bool>& mode)
{
    return mode.param ? "SingleProcess" : "PageProcesses";
}

INSTANTIATE_TEST_SUITE_P(Modes, HostAppThreads, ::testing::Bool(), modeName);
