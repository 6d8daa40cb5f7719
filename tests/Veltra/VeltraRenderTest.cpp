// The plug-in library as a browser uses it: loaded with dlopen, given a real X window, scripted
// through its scripting object, clicked through NPP_HandleEvent.

#include "PluginInWindow.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/Material>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using veltra::test::CallResult;

namespace {

// A red box filling the middle of the view, named with the element id 42.
std::string writeRedPart(const veltra::test::TempDir& folder)
{
    osg::ref_ptr<osg::Geode> part = new osg::Geode;
    part->setName("Part[42]");
    osg::ref_ptr<osg::ShapeDrawable> box = new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 10.0f));
    box->setColor(osg::Vec4(1, 0, 0, 1));
    part->addDrawable(box);
    part->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    std::string path = folder.file("part.osgt");
    osgDB::writeNodeFile(*part, path);
    return path;
}

using VeltraPluginRender = veltra::test::PluginInWindow;

} // namespace

TEST_F(VeltraPluginRender, ShowsALoadedModelReportsClickedPartsAndShutsDownCleanly)
{
    veltra::test::TempDir folder;
    std::string model = writeRedPart(folder);
    create();
    EXPECT_TRUE(page->pumpUntil([&] { return consoleHas("window size 320 240"); }))
        << "the attach message reaches the page console";

    // Frames run on the plug-in's own thread; the model appears in the window.
    ASSERT_TRUE(call("loadfile", {text(model)}).ok);
    ASSERT_TRUE(call("querymodelid", {flag(true)}).ok);
    auto isRed = [&] {
        unsigned long centre = pixel(160, 120);
        return ((centre >> 16) & 0xff) > 200 && ((centre >> 8) & 0xff) < 60 && (centre & 0xff) < 60;
    };
    EXPECT_TRUE(page->pumpUntil(isRed, std::chrono::seconds(20))) << std::hex << pixel(160, 120);

    // A click on the part: the viewer reports id 42 during a frame; the page runs getAttr('42') at a
    // following mouse-up, once.
    EXPECT_EQ(button(ButtonPress, 160, 120), 0) << "the plug-in object consumes nothing";
    button(ButtonRelease, 160, 120);
    EXPECT_TRUE(page->pumpUntil(
        [&] {
            button(ButtonRelease, 5, 5);
            return evaluatedCount("getAttr('42')") > 0;
        },
        std::chrono::seconds(20)));
    button(ButtonRelease, 5, 5);
    EXPECT_EQ(evaluatedCount("getAttr('42')"), 1u);

    // Detach stops the frame loop; the scripting object then sees no application.
    detach();
    EXPECT_TRUE(page->pumpUntil([&] { return consoleHas("onWindowDetached"); }));
    CallResult selector = call("switchModelSelector", {flag(true)});
    EXPECT_TRUE(selector.ok && selector.type == NPVariantType_Bool && !selector.flag);

    // A second attach starts a new application on the window.
    ASSERT_EQ(plugin.setwindow(browser.npp(), &npWindow), NPERR_NO_ERROR);
    browser.runPendingCalls();
    EXPECT_EQ(std::count_if(page->console.begin(), page->console.end(),
                            [](const std::string& line) { return line.rfind("window size", 0) == 0; }),
              2);
    ASSERT_TRUE(call("loadfile", {text(model)}).ok);
    EXPECT_TRUE(page->pumpUntil(isRed, std::chrono::seconds(20)));
}
