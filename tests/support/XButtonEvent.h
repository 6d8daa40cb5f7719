#pragma once

#include <X11/Xlib.h>

namespace veltra::test {

/// A pointer button event on `window` at (x, y), as an X server would deliver it (the root
/// coordinates equal the window ones: tests use windows at the screen's origin).
inline XEvent buttonEvent(Display* display, ::Window window, int type, unsigned button, int x, int y,
                          unsigned state = 0)
{
    XEvent event{};
    event.xbutton.type = type;
    event.xbutton.display = display;
    event.xbutton.window = window;
    event.xbutton.root = DefaultRootWindow(display);
    event.xbutton.button = button;
    event.xbutton.x = x;
    event.xbutton.y = y;
    event.xbutton.x_root = x;
    event.xbutton.y_root = y;
    event.xbutton.state = state;
    event.xbutton.same_screen = 1;
    return event;
}

} // namespace veltra::test
