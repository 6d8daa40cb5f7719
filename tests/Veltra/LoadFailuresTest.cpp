// A file the page asks for that cannot be loaded says why, on standard error and as a warning in the page
// console, while the method answers what it always answered.

#include "FakeHost.h"
#include "TempDir.h"
#include "Veltra.h"
#include "scripting/JSAPI.h"

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

#include <memory>
#include <string>
#include <vector>

using veltra::test::FakeHost;

namespace {

class VeltraLoadFailures : public ::testing::Test
{
protected:
    void SetUp() override
    {
        osg::ref_ptr<osg::MatrixTransform> building = new osg::MatrixTransform;
        building->setName("Building");
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName("Wall[1]");
        part->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
        building->addChild(part);
        model = folder.file("building.osgt");
        ASSERT_TRUE(osgDB::writeNodeFile(*building, model));

        plugin = std::make_shared<Veltra>();
        plugin->setHost(host);
        api = plugin->getRootJSAPI();
        ASSERT_NE(api, nullptr);
    }

    void TearDown() override
    {
        api.reset();
        plugin->destroy();
    }

    // Calls `method`; its result, with what it wrote to standard error and the warnings the page then shows.
    FB::variant call(const std::string& method, const FB::VariantList& args)
    {
        host->warnings.clear();
        testing::internal::CaptureStderr();
        FB::variant result = api->invoke(method, args);
        standardError = testing::internal::GetCapturedStderr();
        host->runPending();
        return result;
    }

    bool saidOnStandardError(const std::string& line) const
    {
        return ("\n" + standardError).find("\n" + line + "\n") != std::string::npos;
    }

    veltra::test::TempDir folder;
    std::string model;
    std::shared_ptr<FakeHost> host = std::make_shared<FakeHost>();
    std::shared_ptr<Veltra> plugin;
    FB::JSAPIPtr api;
    std::string standardError;
};

} // namespace

TEST_F(VeltraLoadFailures, SayWhyOnStandardErrorAndInThePageAndKeepTheirResults)
{
    const std::string missing = folder.file("missing.osgt");
    const std::string unknownKind = folder.write("plan.nothing", "not a model");
    struct Case
    {
        const char* what;
        std::string method;
        FB::VariantList args;
        FB::variant answer;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"a missing model", "loadfile", {missing}, missing, "veltra: model file not found: " + missing},
        {"a model no reader takes",
         "loadfile",
         {unknownKind},
         unknownKind,
         "veltra: no reader for \".nothing\" models: " + unknownKind},
        {"a malformed schedule",
         "loadProgressControl",
         {model, "[", "{}"},
         false,
         "veltra: the schedule could not be loaded: model \"" + model +
             "\", tasks given as text (1 byte), binding given as text (2 bytes)"},
        {"schedule files that are not there",
         "loadProgressControl",
         {model, folder.file("tasks.json"), folder.file("binding.json")},
         false,
         "veltra: the schedule could not be loaded: model \"" + model + "\", tasks \"" + folder.file("tasks.json") +
             "\", binding \"" + folder.file("binding.json") + "\""},
        {"tasks without a schedule",
         "loadProgressControlTasks",
         {"[]", 3},
         false,
         "veltra: no schedule is loaded to take the task list given as text (2 bytes)"},
        {"an earth file",
         "loadearthfile",
         {"maps/world.earth"},
         FB::variant(),
         "veltra: cannot load the earth file \"maps/world.earth\": no map could be read from it"},
        {"a line break in the name",
         "loadfile",
         {std::string("two\nlines.osgt")},
         std::string("two\nlines.osgt"),
         "veltra: model file not found: two lines.osgt"},
    };
    for (const Case& c : cases)
    {
        FB::variant answer = call(c.method, c.args);
        EXPECT_EQ(answer.empty(), c.answer.empty()) << c.what;
        if (!c.answer.empty())
        {
            EXPECT_EQ(answer.convert_cast<std::string>(), c.answer.convert_cast<std::string>()) << c.what;
        }
        EXPECT_TRUE(saidOnStandardError(c.line)) << c.what << "; standard error was:\n" << standardError;
        EXPECT_EQ(host->warnings, std::vector<std::string>{c.line}) << c.what;
    }

    // What loads says nothing of the kind.
    EXPECT_EQ(call("loadfile", {model}).convert_cast<std::string>(), model);
    EXPECT_EQ(standardError.find("veltra: "), std::string::npos) << standardError;
    EXPECT_TRUE(host->warnings.empty());
    EXPECT_EQ(host->consoleWritesOffMainThread, 0u);
}
