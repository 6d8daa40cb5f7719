#include "veltra-demo/ProjectSite.h"

#include "BuildOutputs.h"
#include "TempDir.h"

#include <json/reader.h>
#include <json/value.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;
using veltra::demo::ProjectSiteOptions;
using veltra::demo::writeProjectSite;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Json::Value projectOf(const fs::path& site)
{
    Json::Value value;
    std::istringstream in(readFile(site / "project.json"));
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &value, &errors)) << errors;
    return value;
}

// A user's files in one folder, the site written into another.
class ProjectSiteTest : public ::testing::Test
{
protected:
    fs::path input(const std::string& name) const { return user.path() / name; }
    fs::path site() const { return out.path() / "site"; }

    veltra::test::TempDir user;
    veltra::test::TempDir out;
};

} // namespace

TEST_F(ProjectSiteTest, WritesThePageTheModelAndItsSchedule)
{
    user.write("house.ifc", "model");
    user.write("t.json", "[]");
    user.write("b.json", "{}");
    writeProjectSite(site(), {input("house.ifc"), "My house", input("t.json"), input("b.json")});

    for (const char* file :
         {"index.html", "demo.js", "demo.css", "sky/posZ.jpg", "house.ifc", "tasks.json", "binding.json"})
        EXPECT_TRUE(fs::is_regular_file(site() / file)) << file;
    EXPECT_EQ(readFile(site() / "house.ifc"), "model");
    EXPECT_EQ(readFile(site() / "tasks.json"), "[]");
    const Json::Value project = projectOf(site());
    EXPECT_EQ(project["kind"].asString(), "project");
    EXPECT_EQ(project["title"].asString(), "My house");
    EXPECT_EQ(project["model"].asString(), "house.ifc");
    EXPECT_EQ(project["tasks"].asString(), "tasks.json");
    EXPECT_EQ(project["binding"].asString(), "binding.json");
    EXPECT_EQ(readFile(input("house.ifc")), "model") << "the user's file is untouched";
}

TEST_F(ProjectSiteTest, AModelWithoutScheduleIsNamedByItsFile)
{
    user.write("tower.glb", "glb");
    writeProjectSite(site(), {input("tower.glb"), "", "", ""});
    const Json::Value project = projectOf(site());
    EXPECT_EQ(project["title"].asString(), "tower");
    EXPECT_FALSE(project.isMember("tasks"));
    EXPECT_FALSE(project.isMember("binding"));
}

// The schedule converter writes into the site folder, and a model may already live there: writing
// a file onto itself must neither empty it nor fail.
TEST_F(ProjectSiteTest, FilesAlreadyInTheSiteStayAsTheyAre)
{
    fs::create_directories(site());
    out.write("site/house.ifc", "model");
    out.write("site/tasks.json", "[1]");
    out.write("site/binding.json", "{\"1\": [1]}");
    writeProjectSite(site(), {site() / "house.ifc", "", site() / "tasks.json", site() / "binding.json"});
    writeProjectSite(site(), {site() / "house.ifc", "", site() / "tasks.json", site() / "binding.json"});
    EXPECT_EQ(readFile(site() / "house.ifc"), "model");
    EXPECT_EQ(readFile(site() / "tasks.json"), "[1]");
    EXPECT_EQ(readFile(site() / "binding.json"), "{\"1\": [1]}");
}

TEST_F(ProjectSiteTest, RefusesWhatCannotMakeASite)
{
    user.write("house.ifc", "model");
    user.write("index.html", "the user's own page");
    user.write("t.json", "[]");
    struct Case
    {
        ProjectSiteOptions options;
        const char* message;
    };
    const Case cases[] = {
        {{input("absent.ifc"), "", "", ""}, "absent.ifc"},
        {{user.path(), "", "", ""}, "not a readable file"},
        {{input("index.html"), "", "", ""}, "one of the site's own files"},
        {{input("house.ifc"), "", input("t.json"), ""}, "both a task list and a binding"},
        {{input("house.ifc"), "", input("t.json"), input("absent.json")}, "absent.json"},
    };
    for (const Case& c : cases)
    {
        try
        {
            writeProjectSite(site(), c.options);
            ADD_FAILURE() << "accepted: " << c.message;
        }
        catch (const std::runtime_error& error)
        {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
    EXPECT_FALSE(fs::exists(site())) << "nothing written for a refused project";
}

TEST_F(ProjectSiteTest, SiteProgramTellsUsageErrorsFromUnreadableFiles)
{
    user.write("house.ifc", "model");
    const std::string program =
        "'" + veltra::test::builtProgram(VELTRA_DEMO_SITE_PROGRAM) + "' '" + site().string() + "' ";
    const std::string model = "--model '" + input("house.ifc").string() + "'";
    struct Case
    {
        std::string arguments;
        int status;
    };
    const Case cases[] = {
        {"--title T", 2},
        {model + " --tasks t.json", 2},
        {model + " --colour red", 2},
        {model + " --title", 2},
        {"--model '" + input("absent.ifc").string() + "'", 1},
        {model, 0},
    };
    for (const Case& c : cases)
    {
        const int status = std::system((program + c.arguments + " 2>/dev/null").c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.arguments;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.arguments;
    }
}
