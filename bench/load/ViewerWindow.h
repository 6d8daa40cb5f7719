#pragma once

#include <Zir/osgMainApp.h>

#include <X11/Xlib.h>

#include <filesystem>
#include <memory>
#include <string>

namespace veltra::host {
class XvfbServer;
}

namespace veltra::bench {

/// The viewer application drawing into a window of its own, as the plug-in does: on the display,
/// or on a private Xvfb with Mesa's software OpenGL when there is none. Its file cache lives in a
/// temporary folder removed with the window.
class ViewerWindow
{
public:
    /// `tag` names the cache folder ("load-bench" gives /tmp/veltra-load-bench-cache-<pid>).
    ViewerWindow(unsigned width, unsigned height, const std::string& tag);
    ~ViewerWindow();
    ViewerWindow(const ViewerWindow&) = delete;
    ViewerWindow& operator=(const ViewerWindow&) = delete;

    /// Why nothing can be drawn, or "" when the viewer draws.
    const std::string& why() const { return _why; }

    /// Waits for pending cache writes, then removes every entry of the cache.
    void emptyCache();

    std::unique_ptr<osgMainApp> app;

private:
    std::string _why;
    std::unique_ptr<veltra::host::XvfbServer> _xvfb;
    Display* _display = nullptr;
    Window _window = 0;
    std::filesystem::path _cacheParent;
};

} // namespace veltra::bench
