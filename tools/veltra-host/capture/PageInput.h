#pragma once

#include "capture/XTypes.h"

#include <string>
#include <vector>

namespace veltra::host {

enum class PageEventKind
{
    Down,
    Up,
    Move,
    Wheel,
    KeyDown,
    KeyUp,
};

/// One input event as the page reports it, in DOM terms, with coordinates relative to the
/// instance's picture.
struct PageEvent
{
    PageEventKind kind = PageEventKind::Move;
    int x = 0;
    int y = 0;
    /// The button that went down or up: 0 left, 1 middle, 2 right.
    int button = 0;
    /// The buttons held: 1 left, 2 right, 4 middle (or'ed).
    int buttons = 0;
    /// Wheel only: only the sign counts (positive scrolls down).
    double deltaY = 0;
    /// DOM key name; when empty or unknown, keyCode is tried.
    std::string key;
    int keyCode = 0;
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
    bool meta = false;
};

/// Turns page events into the X events the plug-in window would get from a real server.
/// Events the window cannot understand (a button other than 0..2, a key without keysym or
/// keycode, a wheel event without direction) translate to nothing.
class PageInput
{
public:
    /// `originX`/`originY`: where the window sits on the root, for the events' root coordinates.
    PageInput(Display* display, XResourceId window, int originX = 0, int originY = 0);

    /// One event, or a press and a release for a wheel step. `time` 0 stamps the event with the
    /// milliseconds of a steady clock, as the server's own timestamps run.
    std::vector<XEvent> translate(const PageEvent& event, unsigned long time = 0) const;

private:
    Display* _display;
    XResourceId _window;
    XResourceId _root;
    int _originX;
    int _originY;
};

} // namespace veltra::host
