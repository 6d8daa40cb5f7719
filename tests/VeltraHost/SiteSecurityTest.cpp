#include "site/BridgeSecurity.h"
#include "site/UrlText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace veltra::host;
namespace http = boost::beast::http;

namespace {

const std::string Secret(64, 'a');
const std::string Ours = "http://127.0.0.1:8123";

http::request_header<> request(const std::string& target, std::vector<std::pair<std::string, std::string>> fields,
                               const std::string& host = "127.0.0.1:8123")
{
    http::request_header<> header;
    header.target(target);
    if (!host.empty())
        header.set(http::field::host, host);
    for (const auto& field : fields)
        header.set(field.first, field.second);
    return header;
}

unsigned statusOf(const BridgeSecurity& security, const http::request_header<>& header, RequestKind kind)
{
    const auto refusal = security.check(header, kind);
    return refusal ? refusal->status : 200;
}

} // namespace

TEST(SiteSecurity, SecretsAreFreshHexAndComparedExactly)
{
    const std::string one = BridgeSecurity::makeSecret();
    EXPECT_EQ(one.size(), 64u);
    EXPECT_EQ(one.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(one, BridgeSecurity::makeSecret());

    const BridgeSecurity security("127.0.0.1", 8123, one);
    EXPECT_TRUE(security.secretMatches(one));
    EXPECT_FALSE(security.secretMatches(one.substr(0, 63)));
    EXPECT_FALSE(security.secretMatches(one + "0"));
    std::string offByOne = one;
    offByOne.back() = offByOne.back() == '0' ? '1' : '0';
    EXPECT_FALSE(security.secretMatches(offByOne));
    EXPECT_FALSE(BridgeSecurity("127.0.0.1", 1, "").secretMatches(""));
}

TEST(SiteSecurity, OriginsAndHostsAreOursOnly)
{
    const BridgeSecurity security("Viewer.example", 8123, Secret);
    EXPECT_EQ(security.allowedOrigins(), (std::vector<std::string>{Ours, "http://localhost:8123",
                                                                    "http://viewer.example:8123"}));
    EXPECT_TRUE(security.originAllowed("http://LOCALHOST:8123"));
    EXPECT_FALSE(security.originAllowed("http://127.0.0.1:8124"));
    EXPECT_FALSE(security.originAllowed("https://127.0.0.1:8123"));
    EXPECT_FALSE(security.originAllowed("null"));
    EXPECT_TRUE(security.hostAllowed("viewer.example:8123"));
    EXPECT_FALSE(security.hostAllowed("rebound.example:8123"));
    EXPECT_TRUE(BridgeSecurity("::1", 8123, Secret).hostAllowed("[::1]:8123"));
}

TEST(SiteSecurity, EveryRequestNeedsOneOfOurHosts)
{
    const BridgeSecurity security("127.0.0.1", 8123, Secret);
    EXPECT_EQ(statusOf(security, request("/", {}, ""), RequestKind::StaticFile), 400u);
    EXPECT_EQ(statusOf(security, request("/", {}, "attacker.example:8123"), RequestKind::StaticFile), 403u);
    EXPECT_EQ(statusOf(security, request("/", {{"Origin", "http://attacker.example"}}), RequestKind::StaticFile), 200u);
}

TEST(SiteSecurity, BridgeCallsNeedTheSecretAndNoForeignOrigin)
{
    const BridgeSecurity security("127.0.0.1", 8123, Secret);
    EXPECT_EQ(statusOf(security, request("/bridge", {{"Origin", Ours}}), RequestKind::Bridge), 403u);
    EXPECT_EQ(statusOf(security, request("/bridge", {{"X-Veltra-Secret", "b" + Secret.substr(1)}}), RequestKind::Bridge), 403u);
    EXPECT_EQ(statusOf(security, request("/bridge", {{"X-Veltra-Secret", Secret}, {"Origin", "http://attacker.example"}}),
                       RequestKind::Bridge),
              403u);
    EXPECT_EQ(statusOf(security, request("/bridge?secret=" + Secret, {{"Origin", Ours}}), RequestKind::Bridge), 403u);
    EXPECT_EQ(statusOf(security, request("/bridge", {{"X-Veltra-Secret", Secret}, {"Origin", Ours}}), RequestKind::Bridge), 200u);
    EXPECT_EQ(statusOf(security, request("/bridge", {{"X-Veltra-Secret", Secret}}), RequestKind::Bridge), 200u);
}

TEST(SiteSecurity, WebSocketsNeedTheSecretAndOurOrigin)
{
    const BridgeSecurity security("127.0.0.1", 8123, Secret);
    const std::string target = "/ws?x=1&secret=" + Secret;
    EXPECT_EQ(statusOf(security, request(target, {{"Origin", Ours}}), RequestKind::WebSocket), 200u);
    EXPECT_EQ(statusOf(security, request("/ws", {{"Origin", Ours}, {"X-Veltra-Secret", Secret}}), RequestKind::WebSocket), 200u);
    EXPECT_EQ(statusOf(security, request(target, {}), RequestKind::WebSocket), 403u);
    EXPECT_EQ(statusOf(security, request(target, {{"Origin", "http://attacker.example"}}), RequestKind::WebSocket), 403u);
    EXPECT_EQ(statusOf(security, request("/ws?secret=wrong", {{"Origin", Ours}}), RequestKind::WebSocket), 403u);
}

TEST(SiteSecurity, ThePageScriptIsForOurPagesOnly)
{
    const BridgeSecurity security("127.0.0.1", 8123, Secret);
    EXPECT_EQ(statusOf(security, request("/veltra.js", {}), RequestKind::PageScript), 200u);
    EXPECT_EQ(statusOf(security, request("/veltra.js", {{"Sec-Fetch-Site", "same-origin"}}), RequestKind::PageScript), 200u);
    EXPECT_EQ(statusOf(security, request("/veltra.js", {{"Sec-Fetch-Site", "cross-site"}}), RequestKind::PageScript), 403u);
    EXPECT_EQ(statusOf(security, request("/veltra.js", {{"Origin", "http://attacker.example"}}), RequestKind::PageScript), 403u);
}

TEST(SiteUrlText, DecodingRefusesMalformedEscapes)
{
    EXPECT_EQ(percentDecode("/a%20b%2F+c"), "/a b/+c");
    EXPECT_FALSE(percentDecode("%"));
    EXPECT_FALSE(percentDecode("a%4"));
    EXPECT_FALSE(percentDecode("%g0"));

    const TargetParts parts = splitTarget("/ws?secret=a%2Bb+c&x#frag");
    EXPECT_EQ(parts.path, "/ws");
    EXPECT_EQ(queryValue(parts.query, "secret"), "a+b c");
    EXPECT_EQ(queryValue(parts.query, "x"), "");
    EXPECT_FALSE(queryValue(parts.query, "secre"));
}
