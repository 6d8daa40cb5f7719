#include "BuildOutputs.h"
#include "PluginHarness.h"
#include "VirtualDisplay.h"
#include "XButtonEvent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using veltra::test::ElementArgs;
using veltra::test::PageObject;
using veltra::test::PageValue;
using veltra::test::PluginLibrary;
using veltra::test::ScriptedPage;
using veltra::test::TestBrowser;

namespace {

// A browser with the test plug-in library loaded and initialised, and helpers for one instance.
class PluginLifecycle : public testing::Test
{
protected:
    void SetUp() override
    {
        plugin.size = sizeof(NPPluginFuncs);
        ASSERT_EQ(library.initialize(browser.funcs(), &plugin), NPERR_NO_ERROR);
    }

    void TearDown() override
    {
        if (alive)
            destroy();
        EXPECT_EQ(library.shutdown(), NPERR_NO_ERROR);
    }

    NPError create(ElementArgs element)
    {
        std::vector<char*> names = element.names();
        std::vector<char*> values = element.values();
        NPError result = plugin.newp(const_cast<char*>("application/x-veltra"), browser.npp(), NP_EMBED,
                                     static_cast<int16_t>(names.size()), names.data(), values.data(), nullptr);
        alive = result == NPERR_NO_ERROR;
        return result;
    }

    void destroy()
    {
        alive = false;
        EXPECT_EQ(plugin.destroy(browser.npp(), nullptr), NPERR_NO_ERROR);
    }

    NPError setWindow(uintptr_t id, uint32_t width, uint32_t height, void* display = nullptr)
    {
        callbackInfo.display = static_cast<Display*>(display);
        window.window = reinterpret_cast<void*>(id);
        window.width = width;
        window.height = height;
        window.ws_info = display ? &callbackInfo : nullptr;
        return plugin.setwindow(browser.npp(), id ? &window : nullptr);
    }

    /// The instance's scripting object, with a reference the caller gives back.
    NPObject* scriptable()
    {
        NPObject* object = nullptr;
        EXPECT_EQ(plugin.getvalue(browser.npp(), NPPVpluginScriptableNPObject, &object), NPERR_NO_ERROR);
        return object;
    }

    /// Calls `method` with `args`, whose objects (from objectArg) are given back afterwards.
    bool call(NPObject* object, const char* method, std::vector<NPVariant> args)
    {
        NPVariant result;
        VOID_TO_NPVARIANT(result);
        bool ok = browser.funcs()->invoke(browser.npp(), object, TestBrowser::id(method), args.data(),
                                          static_cast<uint32_t>(args.size()), &result);
        browser.funcs()->releasevariantvalue(&result);
        for (NPVariant& arg : args)
            if (NPVARIANT_IS_OBJECT(arg))
                browser.release(NPVARIANT_TO_OBJECT(arg));
        return ok;
    }

    /// The page object as the plug-in gets it.
    NPVariant objectArg(PageObject* object)
    {
        NPVariant value;
        OBJECT_TO_NPVARIANT(browser.object(object), value);
        return value;
    }

    static NPVariant textArg(const char* text)
    {
        NPVariant value;
        STRINGZ_TO_NPVARIANT(text, value);
        return value;
    }

    TestBrowser browser;
    PluginLibrary library{veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY)};
    NPPluginFuncs plugin{};
    NPWindow window{};
    NPSetWindowCallbackStruct callbackInfo{};
    bool alive = false;
};

using PluginLifecycleThreads = PluginLifecycle;
using PluginLifecycleRender = PluginLifecycle;

} // namespace

TEST(PluginEntryPoints, IdentityTablesAndModuleLifetime)
{
    TestBrowser browser;
    PluginLibrary library(veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY));
    EXPECT_STREQ(library.getMIMEDescription(), "application/x-veltra::Ombrel webplugin;");
    const char* text = nullptr;
    ASSERT_EQ(library.getValue(nullptr, NPPVpluginNameString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "Veltra");
    ASSERT_EQ(library.getValue(nullptr, NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "Ombrel webplugin");
    EXPECT_NE(library.getValue(nullptr, NPPVpluginNameString, nullptr), NPERR_NO_ERROR);

    // The table is filled in, its size, version and reserved slot kept as the browser set them.
    NPPluginFuncs fromEntryPoints;
    std::memset(&fromEntryPoints, 0xab, sizeof fromEntryPoints);
    fromEntryPoints.size = 1234;
    fromEntryPoints.version = 27;
    void* reserved = fromEntryPoints.javaClass;
    ASSERT_EQ(library.getEntryPoints(&fromEntryPoints), NPERR_NO_ERROR);
    EXPECT_EQ(fromEntryPoints.size, 1234);
    EXPECT_EQ(fromEntryPoints.version, 27);
    EXPECT_EQ(fromEntryPoints.javaClass, reserved);
    EXPECT_NE(library.getEntryPoints(nullptr), NPERR_NO_ERROR);
    NPPluginFuncs tooShort{};
    tooShort.size = 16;
    EXPECT_EQ(library.getEntryPoints(&tooShort), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ(tooShort.newp, nullptr) << "nothing written past the browser's table";

    // Unix browsers get the same entry points from NP_Initialize.
    NPPluginFuncs fromInitialize{};
    fromInitialize.size = sizeof fromInitialize;
    ASSERT_EQ(library.initialize(browser.funcs(), &fromInitialize), NPERR_NO_ERROR);
    EXPECT_NE(fromInitialize.newp, nullptr);
    EXPECT_EQ(fromInitialize.newp, fromEntryPoints.newp);
    EXPECT_EQ(fromInitialize.destroy, fromEntryPoints.destroy);
    EXPECT_EQ(fromInitialize.setwindow, fromEntryPoints.setwindow);
    EXPECT_EQ(fromInitialize.event, fromEntryPoints.event);
    EXPECT_EQ(fromInitialize.getvalue, fromEntryPoints.getvalue);
    EXPECT_EQ(fromInitialize.setvalue, fromEntryPoints.setvalue);
    ASSERT_EQ(library.initialize(browser.funcs(), nullptr), NPERR_NO_ERROR); // a second call initialises nothing
    EXPECT_NE(library.initialize(nullptr, nullptr), NPERR_NO_ERROR);
    ASSERT_EQ(library.shutdown(), NPERR_NO_ERROR);

    EXPECT_TRUE(PluginLibrary::tracedInOrder({"NPAPI: ", "TestPlugin: global initialize", "NPAPI: Initialization done",
                                              "NPAPI: Shutdown", "TestPlugin: global deinitialize"}));
    auto traces = PluginLibrary::traces();
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "TestPlugin: global initialize"), 1);

    testing::internal::CaptureStdout();
    library.symbol<void (*)()>("_ZN3CDD4testEv")();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "done\n");
}

TEST_F(PluginLifecycle, WindowedInstanceGoesThroughEveryStepInOrder)
{
    ScriptedPage page(browser);
    PageObject* onload = page.function("loaded");
    page.function("handler");

    ElementArgs element;
    element.attributes.emplace_back("width", "300");
    element.params = {{"onload", "loaded"}, {"on", "handler"}, {"o", "handler"}, {"onbroken", "broken("}};
    ASSERT_EQ(create(element), NPERR_NO_ERROR);

    // Parameters: "on..." names are resolved in the page; one that throws is kept as text.
    EXPECT_TRUE(PluginLibrary::traced("PluginCore: Found <param> event handler: on"));
    EXPECT_TRUE(PluginLibrary::traced("PluginCore: Found <param> event handler: onload"));
    EXPECT_TRUE(PluginLibrary::traced("PluginCore: Exception processing <param> onbroken: Error evaluating script"));
    EXPECT_FALSE(PluginLibrary::traced("PluginCore: Found <param> event handler: o"));
    EXPECT_FALSE(PluginLibrary::traced("PluginCore: Plugin Ready")) << "a windowed instance waits for its window";

    ASSERT_EQ(setWindow(0x2a, 300, 200), NPERR_NO_ERROR);
    ASSERT_EQ(setWindow(0x2a, 320, 240), NPERR_NO_ERROR); // the same window resized: no second attach
    EXPECT_TRUE(PluginLibrary::tracedInOrder(
        {"TestPlugin: created", "PluginCore: Window Set", "TestPlugin: attached 1 300x200", "PluginCore: Plugin Ready",
         "TestPlugin: ready", "BrowserHost: Logging to HTML: plugin ready", "PluginCore: InvokeDelayed(onload)"}));
    EXPECT_TRUE(page.console.empty()) << "the line waits for the browser thread's next turn";
    EXPECT_EQ(browser.runPendingCalls(), 1u);
    EXPECT_EQ(page.console, std::vector<std::string>{"plugin ready"});

    // The delayed call reaches "onload" from the page's timer, with the element's scripting object.
    EXPECT_TRUE(onload->calls.empty());
    EXPECT_EQ(page.runTimers(), 1u);
    NPObject* api = scriptable();
    NPVariant platform;
    ASSERT_TRUE(browser.funcs()->invoke(browser.npp(), api, TestBrowser::id("platform"), nullptr, 0, &platform));
    EXPECT_EQ(TestBrowser::text(platform), "Linux/" + std::string(veltra::host::HostFunctions::userAgent()))
        << "recorded once per process, from the user agent";
    browser.funcs()->releasevariantvalue(&platform);
    ASSERT_EQ(onload->calls.size(), 1u);
    ASSERT_EQ(onload->calls[0].size(), 1u);
    EXPECT_EQ(onload->calls[0][0], PageValue::pluginObject(api));

    ASSERT_EQ(setWindow(0, 0, 0), NPERR_NO_ERROR);
    destroy();
    EXPECT_TRUE(PluginLibrary::tracedInOrder({"TestPlugin: ready", "PluginCore: Window Cleared", "TestPlugin: detached",
                                              "TestPlugin: shutdown", "TestPlugin: destroyed"}));
    auto traces = PluginLibrary::traces();
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "PluginCore: Window Set"), 1);

    // The page's reference outlives the instance, but the object no longer answers.
    EXPECT_FALSE(call(api, "log", {textArg("late")}));
    EXPECT_EQ(browser.lastException(), "This object is no longer valid");
    browser.release(api);
}

TEST_F(PluginLifecycle, WindowlessOnlyWhenTheParameterSaysTrue)
{
    ScriptedPage page(browser, /*withConsole=*/false);
    ElementArgs element;
    element.params = {{"windowless", "yes"}};
    ASSERT_EQ(create(element), NPERR_NO_ERROR);
    browser.runPendingCalls();
    // Ready at once, without a window; the page has no console to log to.
    EXPECT_TRUE(PluginLibrary::tracedInOrder({"PluginCore: Plugin Ready", "BrowserHost: Logging to HTML: plugin ready",
                                              "BrowserHost: Logging to browser console failed"}));
    ASSERT_EQ(setWindow(0x2a, 300, 200), NPERR_NO_ERROR);
    EXPECT_FALSE(PluginLibrary::traced("PluginCore: Window Set"));
    destroy();

    for (const char* value : {"maybe", "0", ""})
    {
        PluginLibrary::clearTraces();
        element.params = {{"windowless", value}};
        ASSERT_EQ(create(element), NPERR_NO_ERROR);
        EXPECT_FALSE(PluginLibrary::traced("PluginCore: Plugin Ready")) << value;
        ASSERT_EQ(setWindow(0x2b, 10, 10), NPERR_NO_ERROR);
        EXPECT_TRUE(PluginLibrary::tracedInOrder({"PluginCore: Window Set", "PluginCore: Plugin Ready"})) << value;
        destroy();
        EXPECT_TRUE(PluginLibrary::traced("PluginCore: Window Cleared")) << "destruction takes the window away";
    }
}

TEST_F(PluginLifecycle, RefusesOtherTypesAndLeavesNothingBehind)
{
    std::size_t before = browser.liveObjects();
    ElementArgs element;
    std::vector<char*> names = element.names();
    std::vector<char*> values = element.values();
    EXPECT_NE(plugin.newp(const_cast<char*>("text/plain"), browser.npp(), NP_EMBED, static_cast<int16_t>(names.size()),
                          names.data(), values.data(), nullptr),
              NPERR_NO_ERROR);
    EXPECT_EQ(plugin.destroy(browser.npp(), nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin.setwindow(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin.event(browser.npp(), nullptr), 0);

    {
        ScriptedPage page(browser);
        ASSERT_EQ(create(element), NPERR_NO_ERROR);
        NPObject* api = scriptable();
        ASSERT_TRUE(call(api, "log", {textArg("hello")}));
        browser.runPendingCalls();
        EXPECT_EQ(page.console, std::vector<std::string>{"hello"});
        browser.release(api);
        destroy();
    }
    EXPECT_EQ(browser.liveObjects(), before);
    EXPECT_EQ(browser.liveAllocations(), 0u);
}

TEST_F(PluginLifecycle, ACallThatLogsManyLinesReturnsBeforeThePageSeesAnyThenTheyComeInOneBatch)
{
    ScriptedPage page(browser);
    ASSERT_EQ(create({}), NPERR_NO_ERROR);
    NPObject* api = scriptable();
    browser.runPendingCalls();
    std::size_t before = page.console.size();
    std::size_t batches = page.consoleCalls;

    NPVariant count;
    INT32_TO_NPVARIANT(10000, count);
    ASSERT_TRUE(call(api, "log", {textArg("part"), count}));
    EXPECT_EQ(page.console.size(), before) << "the call waited for the page";
    browser.runPendingCalls();
    ASSERT_EQ(page.console.size(), before + 10000);
    EXPECT_EQ(page.console[before], "part 0");
    EXPECT_EQ(page.console.back(), "part 9999");
    EXPECT_EQ(page.consoleCalls, batches + 1);
    browser.release(api);
}

TEST_F(PluginLifecycleThreads, WorkersReachThePageThroughTheBrowserThread)
{
    ScriptedPage page(browser);
    PageObject* ping = page.function("pinged");
    PageObject* twice = page.function("twice", [](const std::vector<PageValue>& args) {
        return PageValue::string(args.at(0).asString() + args.at(0).asString());
    });
    ElementArgs element;
    element.params = {{"onping", "pinged"}};
    ASSERT_EQ(create(element), NPERR_NO_ERROR);
    NPObject* api = scriptable();

    // A waiting call: the worker blocks until the browser thread has run it, then gets the result.
    ASSERT_TRUE(call(api, "callFromWorker", {objectArg(twice), textArg("ab")}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(PluginLibrary::traced("TestPlugin: worker result: abab")) << "nothing ran on the browser thread yet";
    EXPECT_TRUE(page.pumpUntil([] { return PluginLibrary::traced("TestPlugin: worker result: abab"); }));

    // Events and page logging from a worker do not wait: they arrive when the browser thread runs its queue.
    ASSERT_TRUE(call(api, "raiseFromWorker", {textArg("onping"), textArg("hi")}));
    EXPECT_TRUE(PluginLibrary::traced("TestPlugin: worker raised onping"));
    EXPECT_TRUE(ping->calls.empty());
    EXPECT_TRUE(page.pumpUntil([&] { return !ping->calls.empty() && page.console.size() >= 1; }));
    EXPECT_EQ(ping->calls.at(0).at(0), PageValue::string("hi"));
    EXPECT_EQ(page.console.back(), "from worker: hi");

    // A browser without asynchronous calls: the worker is told at once.
    browser.setAsyncCallsRefused(true);
    ASSERT_EQ(library.initialize(browser.funcs(), nullptr), NPERR_NO_ERROR);
    ASSERT_TRUE(call(api, "callFromWorker", {objectArg(ping), textArg("x")}));
    EXPECT_TRUE(page.pumpUntil(
        [] { return PluginLibrary::traced("TestPlugin: worker error: Could not marshal to main thread"); }));
    browser.release(api);
}

TEST_F(PluginLifecycleThreads, CallWaitingDuringDestructionEndsWithShuttingDown)
{
    ScriptedPage page(browser);
    PageObject* slow = page.function("slow");
    ASSERT_EQ(create(ElementArgs()), NPERR_NO_ERROR);
    NPObject* api = scriptable();
    ASSERT_TRUE(call(api, "callFromWorker", {objectArg(slow), textArg("late")}));
    // Wait until the worker has asked for the browser thread, then close the page instead of answering.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (browser.pendingCalls() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(browser.pendingCalls(), 1u);
    destroy(); // returns only once the worker has given up
    EXPECT_TRUE(PluginLibrary::tracedInOrder(
        {"TestPlugin: shutdown", "TestPlugin: worker error: Shutting down", "TestPlugin: destroyed"}));
    // The call the browser still holds runs nothing now.
    browser.runPendingCalls();
    EXPECT_TRUE(slow->calls.empty());
    browser.release(api);
}

TEST_F(PluginLifecycleRender, ForwardsUnconsumedInputToARealWindow)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;
    Display* browserDisplay = XOpenDisplay(nullptr);
    Display* viewerDisplay = XOpenDisplay(nullptr);
    ASSERT_TRUE(browserDisplay && viewerDisplay);
    Window xwindow = XCreateSimpleWindow(browserDisplay, DefaultRootWindow(browserDisplay), 0, 0, 200, 100, 0, 0, 0);
    XSync(browserDisplay, 0);
    // The viewer drawing into the window selects its input through its own connection.
    XSelectInput(viewerDisplay, xwindow, ButtonPressMask);
    XSync(viewerDisplay, 0);

    ASSERT_EQ(create(ElementArgs()), NPERR_NO_ERROR);
    ASSERT_EQ(setWindow(xwindow, 200, 100, browserDisplay), NPERR_NO_ERROR);
    EXPECT_TRUE(PluginLibrary::traced("TestPlugin: attached 1 200x100"));

    auto press = [&](unsigned int state) {
        XEvent event = veltra::test::buttonEvent(browserDisplay, xwindow, ButtonPress, Button1, 10, 20, state);
        return plugin.event(browser.npp(), &event);
    };
    auto received = [&](std::chrono::milliseconds wait) {
        auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline)
        {
            while (XPending(viewerDisplay))
            {
                XEvent event;
                XNextEvent(viewerDisplay, &event);
                if (event.type == ButtonPress && event.xbutton.window == xwindow)
                    return event.xbutton.x == 10 && event.xbutton.y == 20;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    };

    EXPECT_EQ(press(0), 0) << "not consumed by the plug-in object";
    EXPECT_TRUE(PluginLibrary::traced("TestPlugin: mousedown 10,20"));
    EXPECT_TRUE(received(std::chrono::seconds(3)));
    EXPECT_EQ(press(ControlMask), 1) << "consumed";
    EXPECT_FALSE(received(std::chrono::milliseconds(200)));

    destroy();
    XDestroyWindow(browserDisplay, xwindow);
    XCloseDisplay(viewerDisplay);
    XCloseDisplay(browserDisplay);
}
