#include <SolvoEarthUtil/http/ReadWebJsonFile.h>
#include <SolvoEarthUtil/loading/SimpleJsonConfig.h>

#include "LoopbackHttp.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using SolvoEarthUtil::SimpleJsonConfig;
using namespace veltra::test;

TEST(SimpleJsonConfig, ReadsFileAndLooksUpKeys)
{
    TempDir dir;
    const std::string path = dir.write("config.json", R"({
        // server settings
        "server": "http://10.0.0.1/data", "title": "项目", "zoom": "3"
    })");
    SimpleJsonConfig config;
    ASSERT_TRUE(config.loadJsonFile(path));
    EXPECT_EQ(config.getValue("server"), "http://10.0.0.1/data");
    EXPECT_EQ(config.getValue("title"), "项目");
    EXPECT_EQ(config.getValues(), (std::set<std::string>{"server", "title", "zoom"}));
}

TEST(SimpleJsonConfig, MissingKeyGivesEmptyTextAndIsAddedToTheRoot)
{
    SimpleJsonConfig config;
    Json::Value root;
    root["b"] = "2";
    config.setJsonRoot(root);
    EXPECT_EQ(config.getValue("a"), "");
    EXPECT_EQ(config.getValues(), (std::set<std::string>{"a", "b"}));
    EXPECT_TRUE(config.getJsonRoot()["a"].isNull());
}

TEST(SimpleJsonConfig, FailuresAreReportedAsFalse)
{
    TempDir dir;
    SimpleJsonConfig config;
    Json::Value root;
    root["kept"] = "yes";
    config.setJsonRoot(root);

    EXPECT_FALSE(config.loadJsonFile(""));
    EXPECT_EQ(config.getValue("kept"), "yes") << "an empty name leaves the root alone";

    EXPECT_FALSE(config.loadJsonFile(dir.file("absent.json")));
    EXPECT_FALSE(config.loadJsonFile(dir.write("broken.json", "{ \"unterminated\": ")));
    EXPECT_FALSE(config.loadJsonFile(dir.path().string())) << "a folder is not a document";
}

TEST(SimpleJsonConfigNet, DownloadsDocumentsFromServers)
{
    LoopbackHttpServer server([](const HttpRequest& request) {
        if (request.target == "/config.json")
            return HttpResponse{200, {{"Content-Type", "application/json"}}, R"({"layer":"roads"})", {}};
        return HttpResponse{404, {}, "not here", {}};
    });
    SimpleJsonConfig config;
    ASSERT_TRUE(config.loadJsonFile(server.url("/config.json")));
    EXPECT_EQ(config.getValue("layer"), "roads");
    EXPECT_FALSE(config.loadJsonFile(server.url("/absent.json"))) << "a 404 page is not a document";
}

TEST(ReadWebJsonFileNet, FillsTheStreamAndReportsNothing)
{
    LoopbackHttpServer server([](const HttpRequest&) { return HttpResponse{200, {}, "[1,2,3]", {}}; });
    std::stringstream out;
    SolvoEarthUtil::readwebjosnfile(server.url("/list.json"), out, nullptr);
    EXPECT_EQ(out.str(), "[1,2,3]");

    std::stringstream nothing;
    SolvoEarthUtil::readwebjosnfile("http://127.0.0.1:1/unreachable.json", nothing, nullptr);
    EXPECT_TRUE(nothing.str().empty());
}
