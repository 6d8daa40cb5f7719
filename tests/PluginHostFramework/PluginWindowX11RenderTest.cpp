#include "plugincore/PluginEvents.h"
#include "x11/PluginWindowX11.h"

#include "VirtualDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Last: Xlib defines macros (None, Bool, Status) that break the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "XButtonEvent.h"

using namespace FB;

namespace {

struct DisplayCloser
{
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

class RecordingSink : public PluginEventSink
{
public:
    bool handleEvent(const PluginEvent& event, PluginWindow*) override
    {
        ++count;
        if (auto down = event.as<MouseDownEvent>())
            downs.push_back(*down);
        if (auto scroll = event.as<MouseScrollEvent>())
            scrolls.push_back(*scroll);
        if (auto key = event.as<KeyDownEvent>())
            keys.push_back(*key);
        return consume;
    }

    bool consume = false;
    int count = 0;
    std::vector<MouseDownEvent> downs;
    std::vector<MouseScrollEvent> scrolls;
    std::vector<KeyDownEvent> keys;
};

// Waits for the next event of `type` on `display`, discarding others; false once `limit` passes.
bool waitForEvent(Display* display, int type, XEvent* out, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline)
    {
        while (XPending(display) > 0)
        {
            XNextEvent(display, out);
            if (out->type == type)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

constexpr std::chrono::milliseconds arrives{3000};
constexpr std::chrono::milliseconds staysAway{200};

// A browser that owns the plug-in window, and a viewer that listens on it through its own
// connection, the way a graphics window drawing into it would.
class PluginWindowX11Render : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!veltra::test::ensureDisplay(&why))
            GTEST_SKIP() << why;
        browser.reset(XOpenDisplay(nullptr));
        viewer.reset(XOpenDisplay(nullptr));
        ASSERT_TRUE(browser && viewer);
        window = XCreateSimpleWindow(browser.get(), DefaultRootWindow(browser.get()), 0, 0, 64, 64, 0, 0, 0);
        XSync(browser.get(), False);
        XSelectInput(viewer.get(), window,
                     ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask | KeyReleaseMask);
        XSync(viewer.get(), False);
        plugin = std::make_unique<PluginWindowX11>(window, browser.get(), 64, 64);
        plugin->setEventSink(sink);
    }

    void TearDown() override
    {
        if (browser && window)
            XDestroyWindow(browser.get(), window);
    }

    XEvent buttonEvent(int type, unsigned int button, int x, int y, unsigned int state = 0) const
    {
        return veltra::test::buttonEvent(browser.get(), window, type, button, x, y, state);
    }

    DisplayPtr browser;
    DisplayPtr viewer;
    Window window = 0;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
    std::unique_ptr<PluginWindowX11> plugin;
};

TEST_F(PluginWindowX11Render, ButtonsAndWheelReachSinkAndViewer)
{
    EXPECT_FALSE(plugin->handleXEvent(buttonEvent(ButtonPress, Button1, 10, 20, ShiftMask)));
    ASSERT_EQ(sink->downs.size(), 1u);
    EXPECT_EQ(sink->downs[0].button, MouseButtonEvent::Left);
    EXPECT_EQ(sink->downs[0].x, 10);
    EXPECT_EQ(sink->downs[0].y, 20);
    EXPECT_EQ(sink->downs[0].modifiers, uint32_t(ModifierShift));

    XEvent received;
    ASSERT_TRUE(waitForEvent(viewer.get(), ButtonPress, &received, arrives));
    EXPECT_EQ(received.xbutton.window, window);
    EXPECT_EQ(received.xbutton.button, unsigned(Button1));
    EXPECT_EQ(received.xbutton.x, 10);
    EXPECT_EQ(received.xbutton.y, 20);

    plugin->handleXEvent(buttonEvent(ButtonPress, 4, 5, 6));
    ASSERT_EQ(sink->scrolls.size(), 1u);
    EXPECT_EQ(sink->scrolls[0].deltaY, 1.0);
    EXPECT_EQ(sink->scrolls[0].deltaX, 0.0);
    ASSERT_TRUE(waitForEvent(viewer.get(), ButtonPress, &received, arrives));
    EXPECT_EQ(received.xbutton.button, 4u);

    // The wheel's release means nothing to the plug-in object but the viewer still pairs it up.
    const int before = sink->count;
    plugin->handleXEvent(buttonEvent(ButtonRelease, 4, 5, 6));
    EXPECT_EQ(sink->count, before);
    ASSERT_TRUE(waitForEvent(viewer.get(), ButtonRelease, &received, arrives));
    EXPECT_EQ(received.xbutton.button, 4u);
}

TEST_F(PluginWindowX11Render, KeyPressGivesUnshiftedKeysymAndModifiers)
{
    const KeyCode code = XKeysymToKeycode(browser.get(), XK_a);
    if (code == 0)
        GTEST_SKIP() << "the server's keymap has no key for 'a'";

    XEvent event{};
    event.xkey.type = KeyPress;
    event.xkey.keycode = code;
    event.xkey.state = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
    event.xkey.same_screen = True;
    // Display and window are left unset on purpose: hosts do not always fill them in.
    EXPECT_FALSE(plugin->handleXEvent(event));

    ASSERT_EQ(sink->keys.size(), 1u);
    EXPECT_EQ(sink->keys[0].keysym, uint32_t(XK_a));
    EXPECT_EQ(sink->keys[0].modifiers, uint32_t(ModifierShift | ModifierControl | ModifierAlt | ModifierMeta));

    XEvent received;
    ASSERT_TRUE(waitForEvent(viewer.get(), KeyPress, &received, arrives));
    EXPECT_EQ(received.xkey.window, window);
    EXPECT_EQ(received.xkey.keycode, unsigned(code));
}

TEST_F(PluginWindowX11Render, DragReachesViewerThatSelectedOnlyButtonMotion)
{
    DisplayPtr dragOnly(XOpenDisplay(nullptr));
    ASSERT_TRUE(dragOnly);
    XSelectInput(dragOnly.get(), window, Button1MotionMask);
    XSync(dragOnly.get(), False);

    XEvent motion{};
    motion.xmotion.type = MotionNotify;
    motion.xmotion.window = window;
    motion.xmotion.x = 3;
    motion.xmotion.y = 4;
    motion.xmotion.same_screen = True;
    plugin->handleXEvent(motion);
    XEvent received;
    EXPECT_FALSE(waitForEvent(dragOnly.get(), MotionNotify, &received, staysAway));

    motion.xmotion.state = Button1Mask;
    plugin->handleXEvent(motion);
    ASSERT_TRUE(waitForEvent(dragOnly.get(), MotionNotify, &received, arrives));
    EXPECT_EQ(received.xmotion.window, window);
    EXPECT_EQ(received.xmotion.state, unsigned(Button1Mask));
}

TEST_F(PluginWindowX11Render, ConsumedEventsStayWithThePlugin)
{
    sink->consume = true;
    EXPECT_TRUE(plugin->handleXEvent(buttonEvent(ButtonPress, Button3, 1, 1)));
    ASSERT_EQ(sink->downs.size(), 1u);
    EXPECT_EQ(sink->downs[0].button, MouseButtonEvent::Right);
    XEvent received;
    EXPECT_FALSE(waitForEvent(viewer.get(), ButtonPress, &received, staysAway));
}

TEST_F(PluginWindowX11Render, MissingSinkOrWindowIsHarmless)
{
    PluginWindowX11 noWindow(0, browser.get(), 0, 0);
    noWindow.setEventSink(sink);
    EXPECT_FALSE(noWindow.handleXEvent(buttonEvent(ButtonPress, Button1, 1, 1)));
    EXPECT_EQ(sink->count, 0);

    plugin->setEventSink({});
    EXPECT_FALSE(plugin->handleXEvent(buttonEvent(ButtonRelease, Button2, 7, 8)));
    XEvent received;
    ASSERT_TRUE(waitForEvent(viewer.get(), ButtonRelease, &received, arrives));
    EXPECT_EQ(received.xbutton.button, unsigned(Button2));
}

TEST(PluginWindowX11, WithoutDisplayNothingHappens)
{
    auto sink = std::make_shared<RecordingSink>();
    XEvent press{};
    press.xbutton.type = ButtonPress;
    press.xbutton.button = Button1;

    PluginWindowX11 noDisplay(42, nullptr, 10, 10);
    noDisplay.setEventSink(sink);
    EXPECT_FALSE(noDisplay.handleXEvent(press));
    EXPECT_EQ(sink->count, 0);
}

} // namespace
