#pragma once

#include <cstdint>

namespace FB {

/// Base of everything the framework tells a plug-in object about its window: input and the window's
/// arrival and departure. Handlers tell the event apart with as<T>().
class PluginEvent
{
public:
    virtual ~PluginEvent() = default;

    template <class T>
    const T* as() const
    {
        return dynamic_cast<const T*>(this);
    }
};

/// Keyboard modifiers held during an input event, as a bit set.
enum Modifier : uint32_t
{
    ModifierNone = 0,
    ModifierShift = 1u << 0,
    ModifierControl = 1u << 1,
    ModifierAlt = 1u << 2,
    ModifierMeta = 1u << 3,
};

/// Positions are in window pixels from the top-left corner.
class MouseMoveEvent : public PluginEvent
{
public:
    MouseMoveEvent(int atX, int atY, uint32_t held = ModifierNone) : x(atX), y(atY), modifiers(held) {}
    int x;
    int y;
    uint32_t modifiers;
};

class MouseButtonEvent : public PluginEvent
{
public:
    enum Button
    {
        Left,
        Middle,
        Right,
        Other,
    };
    MouseButtonEvent(Button which, int atX, int atY, uint32_t held = ModifierNone)
        : button(which), x(atX), y(atY), modifiers(held)
    {}
    Button button;
    int x;
    int y;
    uint32_t modifiers;
};

class MouseDownEvent : public MouseButtonEvent
{
public:
    using MouseButtonEvent::MouseButtonEvent;
};

class MouseUpEvent : public MouseButtonEvent
{
public:
    using MouseButtonEvent::MouseButtonEvent;
};

/// One notch of a wheel: deltaY is +1 away from the user (up), -1 toward; deltaX is +1 to the right.
class MouseScrollEvent : public PluginEvent
{
public:
    MouseScrollEvent(int atX, int atY, double byX, double byY, uint32_t held = ModifierNone)
        : x(atX), y(atY), deltaX(byX), deltaY(byY), modifiers(held)
    {}
    int x;
    int y;
    double deltaX;
    double deltaY;
    uint32_t modifiers;
};

/// A key, named by its X keysym (XK_a, XK_Return, ...).
class KeyEvent : public PluginEvent
{
public:
    KeyEvent(uint32_t key, uint32_t held = ModifierNone) : keysym(key), modifiers(held) {}
    uint32_t keysym;
    uint32_t modifiers;
};

class KeyDownEvent : public KeyEvent
{
public:
    using KeyEvent::KeyEvent;
};

class KeyUpEvent : public KeyEvent
{
public:
    using KeyEvent::KeyEvent;
};

/// The window was handed to the plug-in object (sent with the window as source).
class AttachedEvent : public PluginEvent
{};

/// The window is being taken away; the handle is still valid while this event is handled.
class DetachedEvent : public PluginEvent
{};

} // namespace FB
