#pragma once

#include "plugincore/PluginWindow.h"

#include <cstdint>

// Xlib's types, declared without Xlib's macros (None, Bool, Status, ...), which clash with C++ names.
typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

namespace FB {

/// An X11 window handed to a windowed instance. The browser side passes the window's input events
/// through NPP_HandleEvent; handleXEvent turns them into plug-in events for the plug-in object and
/// passes every event the object did not consume on to the window itself (XSendEvent), so that a
/// viewer drawing into the window sees the same input as if the user had used it directly.
///
/// Translation: button 1/2/3 press and release give MouseDownEvent / MouseUpEvent (Left, Middle,
/// Right; 8 and above Other); buttons 4 and 5 pressed give MouseScrollEvent with deltaY +1 and -1,
/// buttons 6 and 7 with deltaX -1 and +1 (their releases give nothing); pointer motion gives
/// MouseMoveEvent; key press and release give KeyDownEvent / KeyUpEvent with the keysym of the
/// unshifted key. Shift, Control, Mod1 (Alt) and Mod4 (Meta) map to the FB modifiers.
class PluginWindowX11 : public PluginWindow
{
public:
    /// `display` is the browser's connection (the one the window was created on); not owned.
    PluginWindowX11(unsigned long window, Display* display, uint32_t width, uint32_t height);

    uintptr_t getNativeHandle() const override { return _window; }
    uint32_t getWindowWidth() const override { return _width; }
    uint32_t getWindowHeight() const override { return _height; }
    Display* getDisplay() const { return _display; }

    /// The browser reported a new size for the same window.
    void setSize(uint32_t width, uint32_t height);

    /// Delivers one native event: to the plug-in object when it is an input event, then, unless the
    /// object consumed it, to the window (with its window fields set to this window, subwindow
    /// cleared). Returns true when the plug-in object consumed it. Of the other kinds, crossing,
    /// focus and expose events are passed on the same way; anything else is dropped, since X would
    /// hand an event sent with no mask to the window's creator (the browser) rather than the viewer.
    /// Without a display or a window there is nowhere to send to: nothing happens and it returns
    /// false.
    bool handleXEvent(const XEvent& event);

private:
    /// Sends `event` to the window on the browser's display and flushes; false when X refused it.
    bool forward(const XEvent& event) const;

    unsigned long _window;
    Display* _display;
    uint32_t _width;
    uint32_t _height;
};

} // namespace FB
