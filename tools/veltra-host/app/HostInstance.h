#pragma once

#include "browser/PluginModule.h"
#include "capture/HostWindow.h"
#include "capture/PageInput.h"
#include "capture/WindowPicture.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltra::host {

class PageScript;

/// One element of a page as the host keeps it: the plug-in instance, the X window it draws into,
/// the picture read back from that window and the page input sent to it. Browser thread only.
class HostInstance
{
public:
    /// Makes the window and the instance (NPP_New) but does not hand the window over yet, so the
    /// page can learn of the instance before the plug-in starts calling it (see show()). Throws
    /// PluginError or CaptureError.
    HostInstance(PluginModule& module, Display* display, const std::string& mime, int width, int height,
                 const InstanceArgs& args, PageScript& script);
    /// destroy() first.
    ~HostInstance();
    HostInstance(const HostInstance&) = delete;
    HostInstance& operator=(const HostInstance&) = delete;

    PluginInstance& plugin() { return *_plugin; }
    /// Hands the window to the plug-in; windowless instances get none. Throws PluginError.
    void show();

    /// Damage reports for this instance's window; true when `event` was one.
    bool handleDamage(const XEvent& event);
    /// The picture when something was drawn since the last one; nothing for a windowless instance.
    /// When the plug-in announces its pictures, only after an announcement.
    std::optional<std::vector<std::uint8_t>> pictureIfChanged(PictureFormat format, int quality);
    /// Sends one page input event to the plug-in as the X events a real server would deliver.
    void input(const PageEvent& event);

    /// The plug-in's side first (window taken away, NPP_Destroy), then the window. Idempotent.
    void destroy();

private:
    Display* _display;
    std::unique_ptr<HostWindow> _window;
    std::unique_ptr<PluginInstance> _plugin;
    std::unique_ptr<WindowPicture> _picture; // made by show()
    std::unique_ptr<PageInput> _input;
    std::uint64_t _picturesTaken = 0; // the plug-in's announcements that a read has followed
};

} // namespace veltra::host
