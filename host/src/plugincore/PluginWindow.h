#pragma once

#include <cstdint>
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
};

} // namespace FB
