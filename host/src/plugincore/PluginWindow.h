#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace FB {

class PluginEvent;
class PluginWindow;

/// Whatever takes a window's events: the plug-in object. Returns true when it consumed the event,
/// in which case the framework does not pass it on to the native window.
class PluginEventSink
{
public:
    virtual ~PluginEventSink() = default;
    virtual bool handleEvent(const PluginEvent& event, PluginWindow* source) = 0;
};

using PluginEventSinkWeakPtr = std::weak_ptr<PluginEventSink>;

/// The native window a browser handed to an instance. Platform subclasses supply the handle, the
/// size and the translation of native input into plug-in events.
class PluginWindow
{
public:
    virtual ~PluginWindow() = default;

    /// The platform's window handle (on X11 the Window id).
    virtual uintptr_t getNativeHandle() const = 0;
    /// The window's outer size in pixels as the browser last reported it; 0 when unknown.
    virtual uint32_t getWindowWidth() const = 0;
    virtual uint32_t getWindowHeight() const = 0;

    /// The sink that receives this window's events; held weakly.
    void setEventSink(const PluginEventSinkWeakPtr& sink) { _sink = sink; }

    /// Tells the browser that the window now holds a new, completely drawn picture, so that a
    /// browser showing a copy of the window takes a new one. Any thread; never waits. Nothing
    /// happens while the browser side has not said how to reach it (setInvalidator).
    void invalidateWindow() const
    {
        if (_invalidate)
            _invalidate();
    }
    /// For the browser side, before the window is handed to the plug-in object. `invalidate` must
    /// be safe to call from any thread while the window lives.
    void setInvalidator(std::function<void()> invalidate) { _invalidate = std::move(invalidate); }

    /// Hands `event` to the sink; false when there is none or it did not consume the event.
    bool sendEvent(const PluginEvent& event)
    {
        auto sink = _sink.lock();
        return sink && sink->handleEvent(event, this);
    }

protected:
    PluginWindow() = default;

private:
    PluginEventSinkWeakPtr _sink;
    std::function<void()> _invalidate;
};

} // namespace FB
