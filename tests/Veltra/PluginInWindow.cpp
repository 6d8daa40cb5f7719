#include "PluginInWindow.h"

#include "BuildOutputs.h"
#include "VirtualDisplay.h"
#include "XButtonEvent.h"

#include <algorithm>

namespace veltra::test {

void PluginInWindow::SetUp()
{
    std::string why;
    if (!ensureDisplay(&why))
        GTEST_SKIP() << why;
    display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 320, 240, 0, 0, 0);
    XSelectInput(display, window, StructureNotifyMask);
    XMapWindow(display, window);
    for (XEvent event; XNextEvent(display, &event), event.type != MapNotify;)
    {}
    XSelectInput(display, window, 0);

    objectsBefore = browser.liveObjects();
    library = std::make_unique<PluginLibrary>(builtLibrary(VELTRA_PLUGIN_LIBRARY));
    page = std::make_unique<ScriptedPage>(browser);
    plugin.size = sizeof plugin;
    ASSERT_EQ(library->initialize(browser.funcs(), &plugin), NPERR_NO_ERROR);
}

void PluginInWindow::TearDown()
{
    if (!display)
        return;
    if (api)
        browser.release(api);
    if (alive)
        plugin.destroy(browser.npp(), nullptr);
    browser.runPendingCalls();
    EXPECT_EQ(library->shutdown(), NPERR_NO_ERROR);
    page.reset(); // the page's own objects go with it
    EXPECT_EQ(browser.liveObjects(), objectsBefore) << "the plug-in kept page objects";
    EXPECT_EQ(browser.liveAllocations(), 0u);
    library.reset();
    XDestroyWindow(display, window);
    XCloseDisplay(display);
}

void PluginInWindow::create(std::vector<std::pair<std::string, std::string>> params)
{
    ElementArgs element;
    element.params = std::move(params);
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

void PluginInWindow::detach()
{
    ASSERT_EQ(plugin.setwindow(browser.npp(), nullptr), NPERR_NO_ERROR);
}

CallResult PluginInWindow::call(const char* method, std::vector<NPVariant> args)
{
    CallResult result;
    NPVariant value;
    VOID_TO_NPVARIANT(value);
    result.ok = browser.funcs()->invoke(browser.npp(), api, TestBrowser::id(method), args.data(),
                                        static_cast<uint32_t>(args.size()), &value);
    for (NPVariant& arg : args)
        browser.funcs()->releasevariantvalue(&arg);
    result.type = value.type;
    if (NPVARIANT_IS_STRING(value))
        result.text = TestBrowser::text(value);
    else if (NPVARIANT_IS_BOOLEAN(value))
        result.flag = NPVARIANT_TO_BOOLEAN(value);
    else if (NPVARIANT_IS_INT32(value))
        result.number = NPVARIANT_TO_INT32(value);
    else if (NPVARIANT_IS_DOUBLE(value))
        result.number = NPVARIANT_TO_DOUBLE(value);
    browser.funcs()->releasevariantvalue(&value);
    return result;
}

NPVariant PluginInWindow::flag(bool value)
{
    NPVariant variant;
    BOOLEAN_TO_NPVARIANT(value, variant);
    return variant;
}

NPVariant PluginInWindow::number(double value)
{
    NPVariant variant;
    DOUBLE_TO_NPVARIANT(value, variant);
    return variant;
}

NPVariant PluginInWindow::object(PageObject* value)
{
    NPVariant variant;
    OBJECT_TO_NPVARIANT(browser.object(value), variant);
    return variant;
}

unsigned long PluginInWindow::pixel(int x, int y)
{
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    unsigned long value = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return value & 0xffffff;
}

int16_t PluginInWindow::button(int type, int x, int y)
{
    XEvent event = buttonEvent(display, window, type, Button1, x, y);
    return plugin.event(browser.npp(), &event);
}

bool PluginInWindow::consoleHas(const std::string& prefix) const
{
    return std::any_of(page->console.begin(), page->console.end(),
                       [&](const std::string& line) { return line.compare(0, prefix.size(), prefix) == 0; });
}

std::size_t PluginInWindow::evaluatedCount(const std::string& script) const
{
    const auto& all = browser.evaluated();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), script));
}

} // namespace veltra::test
