#include "capture/XErrorTrap.h"

#include <X11/Xlib.h>

namespace veltra::host {

namespace {

Display* trappedDisplay = nullptr;
int trappedError = 0;
XErrorHandler outerHandler = nullptr;

int recordError(Display* display, XErrorEvent* event)
{
    if (display == trappedDisplay)
    {
        if (trappedError == 0)
            trappedError = event->error_code;
        return 0;
    }
    return outerHandler ? outerHandler(display, event) : 0;
}

} // namespace

XErrorTrap::XErrorTrap(Display* display)
    : _display(display), _outerDisplay(trappedDisplay), _outerError(trappedError)
{
    // Errors of requests sent before the trap belong to whoever sent them.
    XSync(display, False);
    XErrorHandler previous = XSetErrorHandler(recordError);
    _outerHandler = reinterpret_cast<void*>(previous);
    if (previous != recordError)
        outerHandler = previous;
    trappedDisplay = display;
    trappedError = 0;
}

XErrorTrap::~XErrorTrap()
{
    XSync(_display, False);
    trappedDisplay = _outerDisplay;
    trappedError = _outerError;
    auto previous = reinterpret_cast<XErrorHandler>(_outerHandler);
    XSetErrorHandler(previous);
}

bool XErrorTrap::sync()
{
    XSync(_display, False);
    return trappedError == 0;
}

std::string XErrorTrap::firstError() const
{
    if (trappedError == 0)
        return {};
    char text[256] = {};
    XGetErrorText(_display, trappedError, text, sizeof text);
    return text;
}

} // namespace veltra::host
