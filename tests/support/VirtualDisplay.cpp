#include "VirtualDisplay.h"

#include "capture/XvfbServer.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>

namespace veltra::test {

namespace {

bool displayOpens()
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

} // namespace

bool ensureDisplay(std::string* why)
{
    static std::once_flag once;
    static std::unique_ptr<veltra::host::XvfbServer> xvfb;
    static bool available = false;
    static std::string reason;

    std::call_once(once, [] {
        if (displayOpens())
        {
            available = true;
            return;
        }
        try
        {
            xvfb = std::make_unique<veltra::host::XvfbServer>("1280x1024x24");
            ::setenv("DISPLAY", xvfb->displayName().c_str(), 1);
        }
        catch (const std::exception& error)
        {
            reason = error.what();
        }
        available = xvfb && displayOpens();
        if (xvfb && !available)
            reason = "Xvfb started but its display cannot be opened";
    });
    if (!available && why)
        *why = reason;
    return available;
}

} // namespace veltra::test
