#include "capture/HostWindow.h"

#include "capture/CaptureError.h"
#include "capture/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xcomposite.h>

#include <stdexcept>
#include <string>

namespace veltra::host {

namespace {

void checkSize(int width, int height)
{
    if (width < 1 || height < 1 || width > HostWindow::maxSize || height > HostWindow::maxSize)
        throw std::invalid_argument("host window size " + std::to_string(width) + "x" +
                                    std::to_string(height) + " is outside 1.." +
                                    std::to_string(HostWindow::maxSize));
}

void requireComposite(Display* display)
{
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 2;
    // Naming a window's pixmap came with version 0.2.
    if (!XCompositeQueryExtension(display, &eventBase, &errorBase) ||
        !XCompositeQueryVersion(display, &major, &minor) || (major == 0 && minor < 2))
        throw CaptureError("the X server lacks the Composite extension 0.2");
}

} // namespace

HostWindow::HostWindow(Display* display, int width, int height)
    : _display(display), _width(width), _height(height)
{
    if (!display)
        throw std::invalid_argument("host window needs a display");
    checkSize(width, height);
    requireComposite(display);

    XErrorTrap trap(display);
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, screen);
    _window = XCreateWindow(display, RootWindow(display, screen), offscreenPosition, offscreenPosition,
                            static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                            CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWBackPixel, &attributes);
    XCompositeRedirectWindow(display, _window, CompositeRedirectAutomatic);
    XMapWindow(display, _window);
    if (!trap.sync())
    {
        const std::string why = trap.firstError();
        if (_window)
            XDestroyWindow(display, _window);
        throw CaptureError("cannot create a redirected host window: " + why);
    }
}

HostWindow::~HostWindow()
{
    // Destroying the window ends its redirection and frees its pixmap with it.
    XErrorTrap trap(_display);
    XDestroyWindow(_display, _window);
}

void HostWindow::resize(int width, int height)
{
    checkSize(width, height);
    if (width == _width && height == _height)
        return;
    XResizeWindow(_display, _window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(_display);
    _width = width;
    _height = height;
}

} // namespace veltra::host
