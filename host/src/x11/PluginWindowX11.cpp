#include "x11/PluginWindowX11.h"

#include "plugincore/PluginEvents.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace FB {

namespace {

uint32_t modifiersFromState(unsigned int state)
{
    uint32_t modifiers = ModifierNone;
    if (state & ShiftMask)
        modifiers |= ModifierShift;
    if (state & ControlMask)
        modifiers |= ModifierControl;
    if (state & Mod1Mask)
        modifiers |= ModifierAlt;
    if (state & Mod4Mask)
        modifiers |= ModifierMeta;
    return modifiers;
}

MouseButtonEvent::Button buttonFromX(unsigned int button)
{
    switch (button)
    {
    case Button1:
        return MouseButtonEvent::Left;
    case Button2:
        return MouseButtonEvent::Middle;
    case Button3:
        return MouseButtonEvent::Right;
    default:
        return MouseButtonEvent::Other;
    }
}

bool isWheelButton(unsigned int button)
{
    return button >= 4 && button <= 7;
}

// A client that selected only button motion (as a drag-only viewer may) must still see drags, so
// motion with buttons held goes out under every mask that describes it.
long motionMask(unsigned int state)
{
    long mask = PointerMotionMask;
    const unsigned int buttonStates[] = {Button1Mask, Button2Mask, Button3Mask, Button4Mask, Button5Mask};
    const long buttonMotionMasks[] = {Button1MotionMask, Button2MotionMask, Button3MotionMask, Button4MotionMask,
                                      Button5MotionMask};
    for (int i = 0; i < 5; ++i)
    {
        if (state & buttonStates[i])
            mask |= ButtonMotionMask | buttonMotionMasks[i];
    }
    return mask;
}

// The mask XSendEvent delivers `event` under; 0 for kinds the window's clients never see from us.
long forwardMask(const XEvent& event)
{
    switch (event.type)
    {
    case ButtonPress:
        return ButtonPressMask;
    case ButtonRelease:
        return ButtonReleaseMask;
    case MotionNotify:
        return motionMask(event.xmotion.state);
    case KeyPress:
        return KeyPressMask;
    case KeyRelease:
        return KeyReleaseMask;
    case EnterNotify:
        return EnterWindowMask;
    case LeaveNotify:
        return LeaveWindowMask;
    case FocusIn:
    case FocusOut:
        return FocusChangeMask;
    case Expose:
        return ExposureMask;
    default:
        return 0;
    }
}

// The browser received the event for its own window (often a parent of ours), so the window fields
// name that one; a receiver matches events to its window by them.
void retarget(XEvent& event, Window window, Display* display)
{
    event.xany.display = display;
    event.xany.window = window;
    Window* root = nullptr;
    Window* subwindow = nullptr;
    switch (event.type)
    {
    case ButtonPress:
    case ButtonRelease:
        root = &event.xbutton.root;
        subwindow = &event.xbutton.subwindow;
        break;
    case MotionNotify:
        root = &event.xmotion.root;
        subwindow = &event.xmotion.subwindow;
        break;
    case KeyPress:
    case KeyRelease:
        root = &event.xkey.root;
        subwindow = &event.xkey.subwindow;
        break;
    case EnterNotify:
    case LeaveNotify:
        root = &event.xcrossing.root;
        subwindow = &event.xcrossing.subwindow;
        break;
    default:
        return;
    }
    // The event is now about our window itself, not a child of it.
    *subwindow = 0;
    if (*root == 0)
        *root = DefaultRootWindow(display);
}

} // namespace

PluginWindowX11::PluginWindowX11(unsigned long window, Display* display, uint32_t width, uint32_t height)
    : _window(window), _display(display), _width(width), _height(height)
{}

void PluginWindowX11::setSize(uint32_t width, uint32_t height)
{
    _width = width;
    _height = height;
}

bool PluginWindowX11::handleXEvent(const XEvent& event)
{
    if (!_display || _window == 0)
        return false;

    bool consumed = false;
    switch (event.type)
    {
    case ButtonPress:
    {
        const XButtonEvent& button = event.xbutton;
        const uint32_t modifiers = modifiersFromState(button.state);
        switch (button.button)
        {
        case 4:
            consumed = sendEvent(MouseScrollEvent(button.x, button.y, 0.0, 1.0, modifiers));
            break;
        case 5:
            consumed = sendEvent(MouseScrollEvent(button.x, button.y, 0.0, -1.0, modifiers));
            break;
        case 6:
            consumed = sendEvent(MouseScrollEvent(button.x, button.y, -1.0, 0.0, modifiers));
            break;
        case 7:
            consumed = sendEvent(MouseScrollEvent(button.x, button.y, 1.0, 0.0, modifiers));
            break;
        default:
            consumed = sendEvent(MouseDownEvent(buttonFromX(button.button), button.x, button.y, modifiers));
            break;
        }
        break;
    }
    case ButtonRelease:
    {
        const XButtonEvent& button = event.xbutton;
        if (!isWheelButton(button.button))
            consumed = sendEvent(
                MouseUpEvent(buttonFromX(button.button), button.x, button.y, modifiersFromState(button.state)));
        break;
    }
    case MotionNotify:
        consumed = sendEvent(MouseMoveEvent(event.xmotion.x, event.xmotion.y, modifiersFromState(event.xmotion.state)));
        break;
    case KeyPress:
    case KeyRelease:
    {
        // The lookup reads the display from the event; a host may not have filled it in.
        XKeyEvent key = event.xkey;
        key.display = _display;
        const auto keysym = static_cast<uint32_t>(XLookupKeysym(&key, 0));
        const uint32_t modifiers = modifiersFromState(key.state);
        if (event.type == KeyPress)
            consumed = sendEvent(KeyDownEvent(keysym, modifiers));
        else
            consumed = sendEvent(KeyUpEvent(keysym, modifiers));
        break;
    }
    default:
        break;
    }

    if (!consumed)
        forward(event);
    return consumed;
}

bool PluginWindowX11::forward(const XEvent& event) const
{
    const long mask = forwardMask(event);
    // With an empty mask X would deliver to the window's creator, which is the browser itself.
    if (mask == 0)
        return false;

    XEvent copy = event;
    retarget(copy, _window, _display);
    const Status sent = XSendEvent(_display, _window, False, mask, &copy);
    XFlush(_display);
    return sent != 0;
}

} // namespace FB
