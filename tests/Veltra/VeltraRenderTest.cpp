// The plug-in library as a browser uses it: loaded with dlopen, given a real X window, scripted
// through its scripting object, clicked through NPP_HandleEvent.

#include "FakeBrowser.h"
#include "PluginHarness.h"
#include "TempDir.h"
#include "VirtualDisplay.h"
#include "XButtonEvent.h"

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

using veltra::test::ElementArgs;
using veltra::test::FakeBrowser;
using veltra::test::PluginLibrary;
using veltra::test::ScriptedPage;

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

class VeltraPluginRender : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!veltra::test::ensureDisplay(&why))
            GTEST_SKIP() << why;
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 320, 240, 0, 0, 0);
        XSelectInput(display, window, StructureNotifyMask);
        XMapWindow(display, window);
        for (XEvent event; XNextEvent(display, &event), event.type != MapNotify;)
        {
        }
        XSelectInput(display, window, 0);

        library = std::make_unique<PluginLibrary>(VELTRA_PLUGIN_LIBRARY);
        page = std::make_unique<ScriptedPage>(browser);
        plugin.size = sizeof plugin;
        ASSERT_EQ(library->initialize(browser.funcs(), &plugin), NPERR_NO_ERROR);
        objectsBefore = browser.liveObjects();
    }

    void TearDown() override
    {
        if (!display)
            return;
        if (api)
            browser.release(api);
        if (alive)
            plugin.destroy(browser.npp(), nullptr);
        browser.runPendingCalls();
        EXPECT_EQ(library->shutdown(), NPERR_NO_ERROR);
        EXPECT_EQ(browser.liveObjects(), objectsBefore);
        page.reset();
        library.reset();
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }

    void create()
    {
        ElementArgs element;
        std::vector<char*> names = element.names();
        std::vector<char*> values = element.values();
        ASSERT_EQ(plugin.newp(const_cast<char*>("application/x-veltra"), browser.npp(), NP_EMBED,
                              static_cast<int16_t>(names.size()), names.data(), values.data(), nullptr),
                  NPERR_NO_ERROR);
        alive = true;
        callbackInfo.display = display;
        npWindow.window = reinterpret_cast<void*>(window);
        npWindow.width = 320;
        npWindow.height = 240;
        npWindow.ws_info = &callbackInfo;
        ASSERT_EQ(plugin.setwindow(browser.npp(), &npWindow), NPERR_NO_ERROR);
        ASSERT_EQ(plugin.getvalue(browser.npp(), NPPVpluginScriptableNPObject, &api), NPERR_NO_ERROR);
    }

    bool call(const char* method, NPVariant argument)
    {
        NPVariant result;
        bool ok = browser.funcs()->invoke(browser.npp(), api, FakeBrowser::id(method), &argument, 1, &result);
        if (ok)
            browser.funcs()->releasevariantvalue(&result);
        return ok;
    }

    /// The colour at the middle of the window, as X has it.
    unsigned long centrePixel()
    {
        XImage* image = XGetImage(display, window, 160, 120, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return 0;
        unsigned long pixel = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return pixel;
    }

    int16_t button(int type, int x, int y)
    {
        XEvent event = veltra::test::buttonEvent(display, window, type, Button1, x, y);
        return plugin.event(browser.npp(), &event);
    }

    bool consoleHas(const std::string& prefix) const
    {
        return std::any_of(page->console.begin(), page->console.end(),
                           [&](const std::string& line) { return line.compare(0, prefix.size(), prefix) == 0; });
    }

    std::size_t evaluatedCount(const std::string& script) const
    {
        const auto& all = browser.evaluated();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), script));
    }

    Display* display = nullptr;
    Window window = 0;
    FakeBrowser browser;
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<ScriptedPage> page;
    NPPluginFuncs plugin{};
    NPWindow npWindow{};
    NPSetWindowCallbackStruct callbackInfo{};
    NPObject* api = nullptr;
    bool alive = false;
    std::size_t objectsBefore = 0;
};

} // namespace

TEST_F(VeltraPluginRender, ShowsALoadedModelReportsClickedPartsAndShutsDownCleanly)
{
    veltra::test::TempDir folder;
    std::string model = writeRedPart(folder);
    create();
    EXPECT_TRUE(consoleHas("window size 320 240")) << "the attach message reaches the page console";

    // Frames run on the plug-in's own thread; the model appears in the window.
    ASSERT_TRUE(call("loadfile", FakeBrowser::stringVariant(model)));
    NPVariant on;
    BOOLEAN_TO_NPVARIANT(true, on);
    ASSERT_TRUE(call("querymodelid", on));
    auto isRed = [&] {
        unsigned long pixel = centrePixel();
        return ((pixel >> 16) & 0xff) > 200 && ((pixel >> 8) & 0xff) < 60 && (pixel & 0xff) < 60;
    };
    EXPECT_TRUE(page->pumpUntil(isRed, std::chrono::seconds(20))) << std::hex << centrePixel();

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
    ASSERT_EQ(plugin.setwindow(browser.npp(), nullptr), NPERR_NO_ERROR);
    EXPECT_TRUE(consoleHas("onWindowDetached"));
    NPVariant result;
    ASSERT_TRUE(browser.funcs()->invoke(browser.npp(), api, FakeBrowser::id("switchModelSelector"), &on, 1, &result));
    EXPECT_TRUE(NPVARIANT_IS_BOOLEAN(result) && !NPVARIANT_TO_BOOLEAN(result));

    // A second attach starts a new application on the window.
    ASSERT_EQ(plugin.setwindow(browser.npp(), &npWindow), NPERR_NO_ERROR);
    EXPECT_EQ(std::count_if(page->console.begin(), page->console.end(),
                            [](const std::string& line) { return line.rfind("window size", 0) == 0; }),
              2);
    ASSERT_TRUE(call("loadfile", FakeBrowser::stringVariant(model)));
    EXPECT_TRUE(page->pumpUntil(isRed, std::chrono::seconds(20)));
}
