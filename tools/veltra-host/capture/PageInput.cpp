#include "capture/PageInput.h"

#include "capture/DomKeys.h"

#include <X11/Xlib.h>

#include <chrono>
#include <stdexcept>

namespace veltra::host {

namespace {

unsigned modifierMask(const PageEvent& event)
{
    return (event.shift ? ShiftMask : 0u) | (event.ctrl ? ControlMask : 0u) | (event.alt ? Mod1Mask : 0u) |
           (event.meta ? Mod4Mask : 0u);
}

unsigned heldButtonsMask(int buttons)
{
    return ((buttons & 1) ? Button1Mask : 0u) | ((buttons & 2) ? Button3Mask : 0u) |
           ((buttons & 4) ? Button2Mask : 0u);
}

/// DOM numbers buttons left, middle, right as 0, 1, 2; X as 1, 2, 3. 0 when there is no such button.
unsigned xButton(int domButton)
{
    return domButton >= 0 && domButton <= 2 ? static_cast<unsigned>(domButton) + 1 : 0;
}

unsigned buttonMask(unsigned button)
{
    return button >= 1 && button <= 5 ? Button1Mask << (button - 1) : 0u;
}

unsigned long steadyMilliseconds()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // Server timestamps are 32-bit milliseconds that wrap.
    return static_cast<unsigned long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) & 0xffffffffUL;
}

} // namespace

PageInput::PageInput(Display* display, XResourceId window, int originX, int originY)
    : _display(display), _window(window), _root(0), _originX(originX), _originY(originY)
{
    if (!display || !window)
        throw std::invalid_argument("page input needs a display and a window");
    _root = DefaultRootWindow(display);
}

std::vector<XEvent> PageInput::translate(const PageEvent& event, unsigned long time) const
{
    if (time == 0)
        time = steadyMilliseconds();
    const unsigned modifiers = modifierMask(event);
    const unsigned held = heldButtonsMask(event.buttons);

    XEvent base{};
    // The pointer and key parts of XEvent share this layout; XMotionEvent and XKeyEvent line up
    // with XButtonEvent for every field set here.
    XButtonEvent& common = base.xbutton;
    common.display = _display;
    common.window = _window;
    common.root = _root;
    common.subwindow = None;
    common.time = time;
    common.x = event.x;
    common.y = event.y;
    common.x_root = event.x + _originX;
    common.y_root = event.y + _originY;
    common.same_screen = True;

    auto buttonEvent = [&](int type, unsigned button, unsigned state) {
        XEvent out = base;
        out.xbutton.type = type;
        out.xbutton.button = button;
        out.xbutton.state = state;
        return out;
    };

    switch (event.kind)
    {
    case PageEventKind::Down:
    case PageEventKind::Up:
    {
        const unsigned button = xButton(event.button);
        if (!button)
            return {};
        // X reports the state before the event: a press does not hold its own button yet, a
        // release still does.
        if (event.kind == PageEventKind::Down)
            return {buttonEvent(ButtonPress, button, modifiers | (held & ~buttonMask(button)))};
        return {buttonEvent(ButtonRelease, button, modifiers | held | buttonMask(button))};
    }
    case PageEventKind::Wheel:
    {
        if (event.deltaY == 0 || event.deltaY != event.deltaY)
            return {};
        // X has no wheel events: a step is a click of button 4 (up) or 5 (down).
        const unsigned button = event.deltaY < 0 ? Button4 : Button5;
        return {buttonEvent(ButtonPress, button, modifiers | held),
                buttonEvent(ButtonRelease, button, modifiers | held | buttonMask(button))};
    }
    case PageEventKind::Move:
    {
        XEvent out = base;
        out.xmotion.type = MotionNotify;
        out.xmotion.state = modifiers | held;
        out.xmotion.is_hint = NotifyNormal;
        out.xmotion.same_screen = True;
        return {out};
    }
    case PageEventKind::KeyDown:
    case PageEventKind::KeyUp:
    {
        const unsigned long keysym = keysymForDomKey(event.key, event.keyCode);
        const KeyCode keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(_display, keysym);
        if (!keycode)
            return {};
        XEvent out = base;
        out.xkey.type = event.kind == PageEventKind::KeyDown ? KeyPress : KeyRelease;
        out.xkey.keycode = keycode;
        out.xkey.state = modifiers | held;
        out.xkey.same_screen = True;
        return {out};
    }
    }
    return {};
}

} // namespace veltra::host
