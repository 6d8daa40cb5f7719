#include "capture/CaptureError.h"
#include "capture/DomKeys.h"
#include "capture/HostWindow.h"
#include "capture/PageInput.h"
#include "capture/WindowPicture.h"

#include "VirtualDisplay.h"

#include <osg/Image>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Last: Xlib defines macros (None, Bool, Status) that break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>

using namespace veltra::host;

namespace {

struct DisplayCloser
{
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

class CaptureRender : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!veltra::test::ensureDisplay(&why))
            GTEST_SKIP() << "no X display: " << why;
        display.reset(XOpenDisplay(nullptr));
        if (!display)
            GTEST_SKIP() << "cannot open the X display";
        int events = 0;
        int errors = 0;
        if (!XCompositeQueryExtension(display.get(), &events, &errors) ||
            !XDamageQueryExtension(display.get(), &events, &errors))
            GTEST_SKIP() << "the X server lacks Composite or Damage";
    }

    /// Fills part of the window with an RGB colour (24-bit true colour assumed, as Xvfb gives).
    void fill(const HostWindow& window, unsigned long rgb, int x, int y, int width, int height)
    {
        GC gc = XCreateGC(display.get(), window.id(), 0, nullptr);
        XSetForeground(display.get(), gc, rgb);
        XFillRectangle(display.get(), window.id(), gc, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XFreeGC(display.get(), gc);
        XSync(display.get(), False);
    }

    DisplayPtr display;
};

osg::ref_ptr<osg::Image> decode(const std::vector<std::uint8_t>& bytes, const char* extension)
{
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension(extension);
    if (!reader)
        return nullptr;
    std::istringstream in(std::string(bytes.begin(), bytes.end()), std::ios::in | std::ios::binary);
    return reader->readImage(in).takeImage();
}

/// The decoded pixel at (x, y) counted from the top, as 0xRRGGBB.
unsigned long pixelFromTop(const osg::Image& image, int x, int y)
{
    const unsigned char* p = image.data(x, image.t() - 1 - y);
    return (static_cast<unsigned long>(p[0]) << 16) | (static_cast<unsigned long>(p[1]) << 8) | p[2];
}

TEST_F(CaptureRender, DrawnColoursComeBackInPlaceAndOnlyWhenChanged)
{
    HostWindow window(display.get(), 40, 30);
    WindowPicture picture(display.get(), window.id());
    fill(window, 0xff0000, 0, 0, 40, 10);
    fill(window, 0x0000ff, 0, 10, 40, 20);

    EXPECT_TRUE(picture.changed());
    const auto png = picture.encodeIfChanged(PictureFormat::Png);
    ASSERT_TRUE(png.has_value());
    osg::ref_ptr<osg::Image> image = decode(*png, "png");
    ASSERT_TRUE(image.valid());
    ASSERT_EQ(image->s(), 40);
    ASSERT_EQ(image->t(), 30);
    EXPECT_EQ(pixelFromTop(*image, 5, 2), 0xff0000UL);
    EXPECT_EQ(pixelFromTop(*image, 35, 25), 0x0000ffUL);

    EXPECT_FALSE(picture.changed());
    EXPECT_FALSE(picture.encodeIfChanged(PictureFormat::Png).has_value());

    fill(window, 0x00ff00, 0, 0, 5, 5);
    EXPECT_TRUE(picture.changed());
    image = decode(picture.encode(PictureFormat::Jpeg, 95), "jpg");
    ASSERT_TRUE(image.valid());
    // Near the bottom: blue only when the rows kept their order.
    const unsigned char* lower = image->data(20, image->t() - 1 - 25);
    EXPECT_LT(lower[0], 40);
    EXPECT_GT(lower[2], 215);
}

TEST_F(CaptureRender, PicturesOfAWindowRedrawnEveryFrameAreNeverHalfDrawn)
{
    // Another client redraws the window with a new colour every frame, each frame in one request as
    // a synced buffer swap puts it, while pictures are read only where the damage says. Every
    // picture must show one frame whole, however the reads and the frames interleave.
    constexpr int width = 64;
    constexpr int height = 48;
    HostWindow window(display.get(), width, height);
    WindowPicture picture(display.get(), window.id());
    fill(window, 0x000000, 0, 0, width, height);
    picture.grab();

    std::atomic<bool> stop{false};
    std::thread painter([&] {
        Display* own = XOpenDisplay(nullptr);
        ASSERT_NE(own, nullptr);
        GC gc = XCreateGC(own, window.id(), 0, nullptr);
        for (unsigned long frame = 1; !stop; ++frame)
        {
            XSetForeground(own, gc, (frame * 0x3f1d57UL) & 0xffffffUL);
            XFillRectangle(own, window.id(), gc, 0, 0, width, height);
            XSync(own, False);
            std::this_thread::sleep_for(std::chrono::microseconds(frame % 3 == 0 ? 100 : 1500));
        }
        XFreeGC(own, gc);
        XCloseDisplay(own);
    });

    int pictures = 0;
    int mixed = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    while (std::chrono::steady_clock::now() < end)
    {
        const auto png = picture.encodeIfChanged(PictureFormat::Png);
        if (!png)
            continue;
        osg::ref_ptr<osg::Image> image = decode(*png, "png");
        ASSERT_TRUE(image.valid());
        ++pictures;
        const unsigned long corner = pixelFromTop(*image, 0, 0);
        if (pixelFromTop(*image, width - 1, height - 1) != corner || pixelFromTop(*image, width / 2, height / 2) != corner)
            ++mixed;
    }
    stop = true;
    painter.join();
    EXPECT_EQ(mixed, 0) << "of " << pictures << " pictures";
    EXPECT_GE(pictures, 5) << "pictures still come while the window keeps changing";
}

TEST_F(CaptureRender, OverlappingWindowsKeepTheirOwnPictures)
{
    // Both windows sit at the same place: each picture must still be its own window's.
    HostWindow below(display.get(), 16, 16);
    HostWindow above(display.get(), 16, 16);
    fill(below, 0x00ff00, 0, 0, 16, 16);
    fill(above, 0xff00ff, 0, 0, 16, 16);

    const RgbPicture belowPicture = WindowPicture(display.get(), below.id()).grab();
    const RgbPicture abovePicture = WindowPicture(display.get(), above.id()).grab();
    EXPECT_EQ((std::vector<std::uint8_t>{0x00, 0xff, 0x00}), std::vector<std::uint8_t>(belowPicture.rgb.begin(), belowPicture.rgb.begin() + 3));
    EXPECT_EQ((std::vector<std::uint8_t>{0xff, 0x00, 0xff}), std::vector<std::uint8_t>(abovePicture.rgb.end() - 3, abovePicture.rgb.end()));
}

TEST_F(CaptureRender, ResizedWindowIsGrabbedAtItsNewSize)
{
    HostWindow window(display.get(), 20, 20);
    WindowPicture picture(display.get(), window.id());
    picture.grab();
    window.resize(33, 17);
    EXPECT_TRUE(picture.changed());
    const RgbPicture grabbed = picture.grab();
    EXPECT_EQ(grabbed.width, 33);
    EXPECT_EQ(grabbed.height, 17);
    EXPECT_THROW(window.resize(0, 10), std::invalid_argument);
    EXPECT_EQ(window.width(), 33);
}

TEST_F(CaptureRender, GrabOfAVanishedWindowThrowsInsteadOfEndingTheProgram)
{
    auto window = std::make_unique<HostWindow>(display.get(), 8, 8);
    WindowPicture picture(display.get(), window->id());
    window.reset();
    EXPECT_THROW(picture.grab(), CaptureError);
}

TEST_F(CaptureRender, PageInputBecomesXEvents)
{
    HostWindow window(display.get(), 50, 50);
    const PageInput input(display.get(), window.id(), window.x(), window.y());

    PageEvent wheel;
    wheel.kind = PageEventKind::Wheel;
    wheel.deltaY = 120;
    const auto wheelEvents = input.translate(wheel);
    ASSERT_EQ(wheelEvents.size(), 2u);
    EXPECT_EQ(wheelEvents[0].type, ButtonPress);
    EXPECT_EQ(wheelEvents[1].type, ButtonRelease);
    EXPECT_EQ(wheelEvents[0].xbutton.button, 5u);
    EXPECT_EQ(wheelEvents[1].xbutton.button, 5u);

    PageEvent key;
    key.kind = PageEventKind::KeyDown;
    key.key = "A";
    key.shift = true;
    const auto keyEvents = input.translate(key);
    ASSERT_EQ(keyEvents.size(), 1u);
    EXPECT_EQ(keyEvents[0].type, KeyPress);
    EXPECT_EQ(keyEvents[0].xkey.keycode, XKeysymToKeycode(display.get(), XK_a));
    EXPECT_EQ(keyEvents[0].xkey.state, static_cast<unsigned>(ShiftMask));
    EXPECT_EQ(keyEvents[0].xkey.window, window.id());

    PageEvent drag;
    drag.kind = PageEventKind::Move;
    drag.x = 7;
    drag.y = 9;
    drag.buttons = 1;
    const auto dragEvents = input.translate(drag, 1234);
    ASSERT_EQ(dragEvents.size(), 1u);
    EXPECT_EQ(dragEvents[0].type, MotionNotify);
    EXPECT_TRUE(dragEvents[0].xmotion.state & Button1Mask);
    EXPECT_EQ(dragEvents[0].xmotion.x_root, window.x() + 7);
    EXPECT_EQ(dragEvents[0].xmotion.time, 1234u);

    PageEvent right;
    right.kind = PageEventKind::Up;
    right.button = 2;
    const auto rightEvents = input.translate(right);
    ASSERT_EQ(rightEvents.size(), 1u);
    EXPECT_EQ(rightEvents[0].xbutton.button, 3u);
    EXPECT_TRUE(rightEvents[0].xbutton.state & Button3Mask);

    PageEvent nonsense;
    nonsense.kind = PageEventKind::KeyDown;
    nonsense.key = "NoSuchKey";
    EXPECT_TRUE(input.translate(nonsense).empty());
    nonsense.kind = PageEventKind::Down;
    nonsense.button = 7;
    EXPECT_TRUE(input.translate(nonsense).empty());
}

TEST(CaptureKeys, DomNamesAndCodesGiveKeysyms)
{
    EXPECT_EQ(keysymForDomKey("Enter"), static_cast<unsigned long>(XK_Return));
    EXPECT_EQ(keysymForDomKey("ArrowLeft"), static_cast<unsigned long>(XK_Left));
    EXPECT_EQ(keysymForDomKey(" "), static_cast<unsigned long>(XK_space));
    EXPECT_EQ(keysymForDomKey("F12"), static_cast<unsigned long>(XK_F12));
    EXPECT_EQ(keysymForDomKey("F1x"), 0UL);
    EXPECT_EQ(keysymForDomKey("Unidentified", 27), static_cast<unsigned long>(XK_Escape));
    EXPECT_EQ(keysymForDomKey("", 'Q'), static_cast<unsigned long>(XK_q));
    EXPECT_EQ(keysymForDomKey("", 0), 0UL);
}

} // namespace
