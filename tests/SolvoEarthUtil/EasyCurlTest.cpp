#include <SolvoEarthUtil/http/EasyCurl.h>

#include "LoopbackHttp.h"
#include "NotifyCapture.h"
#include "TempDir.h"

#include <osgDB/AuthenticationMap>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

using SolvoEarthUtil::EasyCurl;
using ReadResult = osgDB::ReaderWriter::ReadResult;
using namespace veltra::test;

namespace {

std::string allBytes()
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes + "\r\n\n\r" + bytes;
}

HttpResponse route(const HttpRequest& request)
{
    if (request.target == "/json")
        return {200, {{"Content-Type", "application/json"}}, R"({"name":"veltra"})", {}};
    if (request.target == "/missing")
        return {404, {{"Content-Type", "text/plain"}}, "no such file", {}};
    if (request.target == "/unavailable")
        return {503, {}, "try later", {}};
    if (request.target == "/redirect")
        return {302, {{"Location", "/json"}}, {}, {}};
    if (request.target == "/binary")
        return {200, {{"Content-Type", "application/octet-stream"}}, allBytes(), {}};
    if (request.target == "/secure")
    {
        if (request.header("authorization") == "Basic dXNlcjpzZWNyZXQ=") // user:secret
            return {200, {}, "welcome", {}};
        return {401, {{"WWW-Authenticate", "Basic realm=\"veltra\""}}, {}, {}};
    }
    if (request.target == "/slow")
        return {200, {}, "late", std::chrono::milliseconds(1200)};
    return {404, {}, {}, {}};
}

// A port on which nothing listens: bound but never listening, so connections are refused.
class RefusingPort
{
public:
    RefusingPort() : _socket(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        ::bind(_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::getsockname(_socket, reinterpret_cast<sockaddr*>(&address), &length);
        _port = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(_socket); }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(_port) + path; }

private:
    int _socket;
    uint16_t _port = 0;
};

class EasyCurlNet : public ::testing::Test
{
protected:
    ReadResult get(const std::string& url, std::string* body = nullptr, const std::string& proxy = std::string(),
                   const osgDB::Options* options = nullptr)
    {
        std::ostringstream out;
        EasyCurl::StreamObject sink(&out, nullptr, std::string());
        ReadResult result = curl->read(proxy, url, sink, options);
        if (body)
            *body = out.str();
        lastMimeType = EasyCurl::getResultMimeType(sink);
        return result;
    }

    void TearDown() override { osgDB::Registry::instance()->setAuthenticationMap(nullptr); }

    LoopbackHttpServer server{route};
    osg::ref_ptr<EasyCurl> curl = new EasyCurl;
    std::string lastMimeType;
};

} // namespace

TEST_F(EasyCurlNet, LoadsBodyAndContentType)
{
    std::string body;
    const ReadResult result = get(server.url("/json"), &body);
    EXPECT_EQ(result.status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(body, R"({"name":"veltra"})");
    EXPECT_EQ(lastMimeType, "application/json");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].header("user-agent"), "libcurl-agent/1.0");
}

TEST_F(EasyCurlNet, ClientAndServerErrorsMapToStatuses)
{
    const ReadResult missing = get(server.url("/missing"));
    EXPECT_EQ(missing.status(), ReadResult::FILE_NOT_FOUND);
    EXPECT_EQ(missing.message(), "error code = 404");
    EXPECT_TRUE(lastMimeType.empty()) << "a failed transfer leaves the MIME type unset";

    const ReadResult unavailable = get(server.url("/unavailable"));
    EXPECT_EQ(unavailable.status(), ReadResult::ERROR_IN_READING_FILE);
    EXPECT_EQ(unavailable.message(), "error code = 503");
}

TEST_F(EasyCurlNet, RefusedConnectionIsNotHandledAndLogged)
{
    RefusingPort closed;
    NotifyCapture log(osg::NOTICE);
    const ReadResult result = get(closed.url("/json"));
    EXPECT_EQ(result.status(), ReadResult::FILE_NOT_HANDLED);
    EXPECT_TRUE(log.contains("Error: libcurl read error, file=" + closed.url("/json") + " error = "));
}

TEST_F(EasyCurlNet, FollowsRedirects)
{
    std::string body;
    EXPECT_EQ(get(server.url("/redirect"), &body).status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(body, R"({"name":"veltra"})");
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(EasyCurlNet, WritesCacheFileInBinaryBesideTheStream)
{
    TempDir dir;
    const std::string cacheFile = dir.file("cached.bin");
    dir.write("cached.bin", "older and longer content that must be replaced entirely .....................");
    std::ostringstream out;
    EasyCurl::StreamObject sink(&out, nullptr, cacheFile);
    NotifyCapture log(osg::INFO);
    ASSERT_EQ(curl->read("", server.url("/binary"), sink, nullptr).status(), ReadResult::FILE_LOADED);
    sink.cacheFile.close();

    std::ifstream in(cacheFile, std::ios::binary);
    const std::string cached((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(cached, allBytes());
    EXPECT_EQ(out.str(), allBytes());
    EXPECT_TRUE(log.contains("Writing to cache: " + cacheFile));
}

TEST_F(EasyCurlNet, UnwritableCacheFileStillFillsTheStream)
{
    std::ostringstream out;
    EasyCurl::StreamObject sink(&out, nullptr, "/nonexistent-folder/veltra/cache.bin");
    EXPECT_EQ(curl->read("", server.url("/binary"), sink, nullptr).status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(out.str(), allBytes());
}

TEST_F(EasyCurlNet, CredentialsComeFromTheAuthenticationMapAndAreClearedAfterwards)
{
    osgDB::Registry::instance()->getOrCreateAuthenticationMap()->addAuthenticationDetails(
        server.url("/secure"), new osgDB::AuthenticationDetails("user", "secret"));

    std::string body;
    EXPECT_EQ(get(server.url("/secure"), &body).status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(body, "welcome");

    // The same handle must not carry the credentials over to a URL that has none.
    EXPECT_EQ(get(server.url("/json")).status(), ReadResult::FILE_LOADED);
    const std::vector<HttpRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].header("authorization").empty());
    EXPECT_TRUE(requests[1].header("authorization").empty());
}

TEST_F(EasyCurlNet, OptionsAuthenticationMapTakesPrecedence)
{
    osgDB::Registry::instance()->getOrCreateAuthenticationMap()->addAuthenticationDetails(
        server.url("/secure"), new osgDB::AuthenticationDetails("user", "wrong"));
    osg::ref_ptr<osgDB::AuthenticationMap> own = new osgDB::AuthenticationMap;
    own->addAuthenticationDetails(server.url("/secure"), new osgDB::AuthenticationDetails("user", "secret"));
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setAuthenticationMap(own.get());

    EXPECT_EQ(get(server.url("/secure"), nullptr, "", options.get()).status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(get(server.url("/secure")).status(), ReadResult::FILE_NOT_FOUND) << "registry map has a wrong password";
}

TEST_F(EasyCurlNet, TimeoutSetBackToZeroMeansNoTimeout)
{
    curl->setTimeout(1);
    EXPECT_EQ(get(server.url("/slow")).status(), ReadResult::FILE_NOT_HANDLED);

    curl->setTimeout(0);
    std::string body;
    EXPECT_EQ(get(server.url("/slow"), &body).status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(body, "late");
}

TEST_F(EasyCurlNet, ForwardProxyRelaysAndReportsTheServerStatus)
{
    LoopbackProxy proxy;
    NotifyCapture log(osg::INFO);
    std::string body;
    EXPECT_EQ(get(server.url("/json"), &body, proxy.url("")).status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(body, R"({"name":"veltra"})");
    EXPECT_TRUE(log.contains("Setting proxy: " + proxy.url("")));

    // No tunnel was made, so the server's own 404 must count, not the absent CONNECT status.
    const ReadResult missing = get(server.url("/missing"), nullptr, proxy.url(""));
    EXPECT_EQ(missing.status(), ReadResult::FILE_NOT_FOUND);
    EXPECT_EQ(missing.message(), "error code = 404");

    const std::vector<std::string> lines = proxy.requestLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "GET " + server.url("/json"));
}

TEST_F(EasyCurlNet, RefusedTunnelIsNotHandled)
{
    LoopbackProxy proxy(407);
    const std::string secureUrl = "https://127.0.0.1:" + std::to_string(server.port()) + "/json";
    EXPECT_EQ(get(secureUrl, nullptr, proxy.url("")).status(), ReadResult::FILE_NOT_HANDLED);
    const std::vector<std::string> lines = proxy.requestLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "CONNECT 127.0.0.1:" + std::to_string(server.port()));
}

TEST(EasyCurl, FileNameFromURL)
{
    EXPECT_EQ(EasyCurl::getFileNameFromURL("http://host/models/a.osgb"), "http://host/models/a.osgb");
    EXPECT_EQ(EasyCurl::getFileNameFromURL("http://host/get?id=3&filename=tile.osgb&token=x"), "tile.osgb");
    EXPECT_EQ(EasyCurl::getFileNameFromURL("http://host/get?filename=last.jpg"), "last.jpg");
    EXPECT_EQ(EasyCurl::getFileNameFromURL("http://host/get.php?id=3&token=x"), "http://host/get.php");
    EXPECT_EQ(EasyCurl::getFileNameFromURL("http://host/get?"), "http://host/get");
}

TEST(EasyCurl, MimeTypeForExtensionTakesTheFirstInKeyOrder)
{
    auto& map = osgDB::Registry::instance()->getMimeTypeExtensionMap();
    map["application/z-veltra"] = "vtestmime";
    map["application/a-veltra"] = "vtestmime";
    EXPECT_EQ(EasyCurl::getMimeTypeForExtension("vtestmime"), "application/a-veltra");
    EXPECT_EQ(EasyCurl::getMimeTypeForExtension("VTESTMIME"), "application/octet-stream") << "case-sensitive";
    EXPECT_EQ(EasyCurl::getMimeTypeForExtension("no-such-extension"), "application/octet-stream");
    map.erase("application/z-veltra");
    map.erase("application/a-veltra");
}

TEST(EasyCurl, CallbackPassesEveryByteAndNeverAborts)
{
    std::ostringstream out;
    EasyCurl::StreamObject sink(&out, nullptr, std::string());
    char data[6] = {'a', '\0', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(EasyCurl::StreamMemoryCallback(data, 2, 3, &sink), 6u);
    EXPECT_EQ(out.str(), std::string(data, 6));

    EasyCurl::StreamObject noStream(nullptr, nullptr, std::string());
    EXPECT_EQ(EasyCurl::StreamMemoryCallback(data, 1, 6, &noStream), 6u);
}

TEST_F(EasyCurlNet, CollectsTheBodyInAStringSizedFromTheFinalAnnouncedLength)
{
    std::string body;
    EasyCurl::StreamObject sink(&body);
    ASSERT_EQ(curl->read("", server.url("/redirect"), sink, nullptr).status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(body, R"({"name":"veltra"})");
    // The redirect announced an empty body of its own; the length is the answer's that follows.
    EXPECT_EQ(sink.announcedLength, static_cast<long long>(body.size()));
    EXPECT_EQ(EasyCurl::getResultMimeType(sink), "application/json");

    std::string binary;
    EasyCurl::StreamObject binarySink(&binary);
    ASSERT_EQ(curl->read("", server.url("/binary"), binarySink, nullptr).status(), ReadResult::FILE_LOADED);
    EXPECT_EQ(binary, allBytes());
}
