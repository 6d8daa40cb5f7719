// The scripting object as page script uses it, through the plug-in library loaded like a browser does.

#include "PluginInWindow.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

#include <chrono>
#include <string>
#include <vector>

using veltra::test::CallResult;
using veltra::test::PageObject;
using veltra::test::TestBrowser;
using VeltraScriptingRender = veltra::test::PluginInWindow;

namespace {

// Parts side by side, each a box named "<name>", under a transform named `modelName`.
std::string writeModel(const veltra::test::TempDir& folder, const std::string& modelName,
                       const std::vector<std::string>& partNames)
{
    osg::ref_ptr<osg::MatrixTransform> model = new osg::MatrixTransform;
    model->setName(modelName);
    float x = 0.0f;
    for (const std::string& name : partNames)
    {
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName(name);
        part->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(x, 0.0f, 0.0f), 1.0f)));
        model->addChild(part);
        x += 1.5f;
    }
    std::string path = folder.file(modelName + ".osgt");
    osgDB::writeNodeFile(*model, path);
    return path;
}

const std::vector<std::string> kAllMethods = {
    "echo", "testEvent", "loadplugin", "loadfile", "querymodelid", "addserveraddress", "selectmaniupltor", "home",
    "clearscene", "addbackground", "addSkyBox", "loadearthfile", "loadearthmodel", "querymodelinfo", "setviewpoint",
    "getviewpoint", "setpitchrange", "getcamerapostion", "createlayer", "removelayer", "showlayer", "addfeatures",
    "removefeature", "enablepostinTomap2d", "loadProgressControlToEarth", "loadProgressControl",
    "loadProgressControlTasks", "getProgressControlState", "startProgressControl", "pauseProgressControl",
    "stopProgressControl", "getProgressControlMode", "setProgressControlMode", "getProgressControlRange",
    "setProgressControlRange", "getProgressControlToday", "setProgressControlToday", "getProgressControlSpeed",
    "setProgressControlSpeed", "getProgressControlLoop", "setProgressControlLoop", "setProgressControlAllAlpha",
    "setProgressControlChildrenAlpha", "marknodehighlight", "switchModelSelector", "clearModelSelector",
    "getModelSelects", "setModelVisible"};

} // namespace

TEST_F(VeltraScriptingRender, ViewerMethodsAndWhatTheyAnswerWithoutTheViewer)
{
    veltra::test::TempDir folder;
    std::string building = writeModel(folder, "Building", {"Wall[1]", "Wall[2]", "Door[3]"});
    PageObject* echoed = page->function("echoed");
    create({{"onecho", "echoed"}});

    ASSERT_EQ(kAllMethods.size(), 48u);
    for (const std::string& name : kAllMethods)
        EXPECT_TRUE(browser.funcs()->hasmethod(browser.npp(), api, TestBrowser::id(name))) << name;
    EXPECT_EQ(call("getviewpoint").text, "") << "no globe yet";
    EXPECT_TRUE(call("removelayer", {text("none")}).flag);
    EXPECT_FALSE(call("setpitchrange", {text("steep"), number(80)}).ok) << "a bad number fails the call";

    // "echo" answers its argument and raises "onecho" with a counter shared by every element.
    CallResult first = call("echo", {text("a")});
    CallResult second = call("echo", {number(2.5)});
    EXPECT_EQ(first.text, "a");
    EXPECT_EQ(second.number, 2.5);
    ASSERT_EQ(echoed->calls.size(), 2u);
    int counter = static_cast<int>(echoed->calls[0][1].asDouble());
    int next = static_cast<int>(echoed->calls[1][1].asDouble());
    EXPECT_EQ(next, counter + 1);

    // "loadfile" answers exactly its argument; "setModelVisible" finds the model and its parts.
    EXPECT_EQ(call("loadfile", {text(building)}).text, building);
    EXPECT_EQ(call("getProgressControlRange").text, ",") << "no schedule yet";
    browser.runPendingCalls();
    page->console.clear();
    EXPECT_FALSE(call("setModelVisible", {text("Nowhere"), flag(false), text("Wall")}).flag);
    browser.runPendingCalls();
    EXPECT_TRUE(page->console.empty()) << "nothing is written for a model that is not there";
    EXPECT_TRUE(call("setModelVisible", {text("Building"), flag(false), text("Wall")}).flag);
    browser.runPendingCalls();
    EXPECT_EQ(page->console, (std::vector<std::string>{"model name: Building", "visible: false", "nodes: 2"}));
    page->console.clear();
    EXPECT_TRUE(call("setModelVisible", {text("Build%69ng"), flag(true), text("Roof")}).flag) << "names are decoded";
    browser.runPendingCalls();
    EXPECT_EQ(page->console.back(), "nodes: 0");

    EXPECT_TRUE(call("switchModelSelector", {flag(true)}).flag);
    EXPECT_EQ(call("getModelSelects").text, "");
    EXPECT_TRUE(call("clearModelSelector").flag);

    // The "version" property cannot be changed from the page.
    NPVariant version = text("2.0");
    browser.funcs()->setproperty(browser.npp(), api, TestBrowser::id("version"), &version);
    browser.funcs()->releasevariantvalue(&version);
    NPVariant value;
    ASSERT_TRUE(browser.funcs()->getproperty(browser.npp(), api, TestBrowser::id("version"), &value));
    EXPECT_EQ(TestBrowser::text(value), "1.0.0.0");
    browser.funcs()->releasevariantvalue(&value);

    // Without the viewer (window gone) every method gives its "nothing there" answer.
    detach();
    EXPECT_TRUE(call("home").ok);
    EXPECT_FALSE(call("switchModelSelector", {flag(true)}).flag);
    EXPECT_FALSE(call("clearModelSelector").flag);
    EXPECT_FALSE(call("setModelVisible", {text("Building"), flag(true), text("Wall")}).flag);
    EXPECT_FALSE(call("loadProgressControl", {text(building), text("[]"), text("{}")}).flag);
    EXPECT_EQ(call("getProgressControlRange").text, ",");
    EXPECT_EQ(call("getProgressControlToday").text, "");
    EXPECT_EQ(call("getProgressControlState").number, 0);
    EXPECT_FALSE(call("startProgressControl").flag);
    EXPECT_FALSE(call("setProgressControlChildrenAlpha", {text("1.1"), number(0.5)}).flag);
    EXPECT_EQ(call("loadfile", {text(building)}).text, building);
}

TEST_F(VeltraScriptingRender, ScheduleOnARealModelPlaysAndReportsItsDates)
{
    veltra::test::TempDir folder;
    std::string model = writeModel(folder, "Tower", {"Part[101]", "Part[102]", "Part[103]"});
    const std::string tasks =
        R"([{"wbs":"1.1","name":"Footing","startP":"2024-03-01","finishP":"2024-03-03","startA":"2024-03-01","finishA":"2024-03-03"},)"
        R"({"wbs":"1.2","name":"Columns","startP":"2024-03-04","finishP":"2024-03-06","startA":"2024-03-04","finishA":"2024-03-06"},)"
        R"({"wbs":"1.3","name":"Roof","startP":"2024-03-07","finishP":"2024-03-09","startA":"2024-03-07","finishA":"2024-03-09"}])";
    const std::string binding = R"({"1.1":[101],"1.2":[102],"1.3":[103]})";
    PageObject* dates = page->function("dates");
    create();
    ASSERT_TRUE(call("addEventListener", {text("dateChanged"), object(dates)}).ok);

    ASSERT_TRUE(call("loadfile", {text(model)}).ok);
    // The tasks and binding may come URL-encoded.
    ASSERT_TRUE(call("loadProgressControl", {text(model), text(tasks),
                                             text("%7B%221.1%22:[101],%221.2%22:[102],"
                                                  "%221.3%22:[103]%7D")})
                    .flag);
    EXPECT_EQ(call("getProgressControlRange").text, "2024-03-01,2024-03-09");
    EXPECT_TRUE(call("setProgressControlChildrenAlpha", {text(",1.1,,1.2,"), number(0.5)}).flag);
    EXPECT_TRUE(call("setProgressControlChildrenAlpha", {text(""), number(0.5)}).flag);

    // Playback on the rendering thread: the page hears every date, in order, with the current tasks.
    EXPECT_TRUE(call("setProgressControlMode", {number(3)}).flag); // plan against actual
    EXPECT_EQ(call("getProgressControlMode").number, 3);
    // Slow enough that even a slow software renderer draws a frame for every day.
    EXPECT_TRUE(call("setProgressControlSpeed", {number(4)}).flag);
    EXPECT_EQ(call("getProgressControlSpeed").number, 4);
    // Calls are kept (and owned) by the page function; each phase reads those after its start.
    std::size_t from = dates->calls.size();
    EXPECT_TRUE(call("startProgressControl").flag);
    auto heard = [&](const std::string& date) {
        for (std::size_t i = from; i < dates->calls.size(); ++i)
            if (dates->calls[i].at(0).asString() == date)
                return true;
        return false;
    };
    ASSERT_TRUE(page->pumpUntil([&] { return heard("2024-03-09"); }, std::chrono::seconds(20)));
    std::string previous;
    bool columnsCurrent = false;
    for (std::size_t i = from; i < dates->calls.size(); ++i)
    {
        const auto& args = dates->calls[i];
        ASSERT_EQ(args.size(), 3u);
        std::string today = args[0].asString();
        EXPECT_LE(previous, today) << "dates arrive in order";
        previous = today;
        if (today == "2024-03-05")
        {
            columnsCurrent = args[1].asString() == "1.2" && args[2].asString() == "1.2";
            EXPECT_TRUE(columnsCurrent) << args[1].asString() << " / " << args[2].asString();
        }
    }
    EXPECT_TRUE(heard("2024-03-05"));
    EXPECT_TRUE(columnsCurrent);
    EXPECT_TRUE(call("stopProgressControl").flag);

    // A rejected schedule keeps the earlier control, which still reports to the page.
    EXPECT_FALSE(call("loadProgressControl", {text(model), text("["), text(binding)}).flag);
    from = dates->calls.size();
    EXPECT_TRUE(call("setProgressControlToday", {text("2024-03-08")}).flag);
    EXPECT_EQ(call("getProgressControlToday").text, "2024-03-08");
    ASSERT_TRUE(page->pumpUntil([&] { return heard("2024-03-08"); }, std::chrono::seconds(5)));
}
