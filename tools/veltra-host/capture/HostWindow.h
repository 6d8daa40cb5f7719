#pragma once

#include "capture/XTypes.h"

namespace veltra::host {

/// The X window one plug-in instance draws into: a top-level, override-redirect child of the root,
/// mapped far outside the visible screen, and redirected off screen with the Composite extension.
///
/// Redirection is automatic, not manual: a window redirected either way keeps its contents in a
/// pixmap of its own, so two host windows never overwrite each other's pictures even where they
/// overlap (pictures are read from that pixmap, never from the screen). Manual redirection would
/// also stop the server painting the window onto the root, but only one client may hold it and a
/// compositing manager already holds it for every child of the root; automatic redirection is
/// never refused, and painting a window that lies off screen costs nothing.
///
/// The window uses the host's display connection; it opens none of its own. All calls for one
/// display, on every host object, belong to the thread that owns that connection (the browser
/// thread); the host does not call XInitThreads. Host objects must go before their display closes.
class HostWindow
{
public:
    /// Largest width or height accepted.
    static constexpr int maxSize = 8192;
    /// Where every host window sits on the root: far enough left and up that no part of it is seen.
    static constexpr int offscreenPosition = -(maxSize + 1024);

    /// Throws std::invalid_argument for a size outside 1..maxSize and CaptureError when the
    /// server lacks Composite 0.2 or refuses the window.
    HostWindow(Display* display, int width, int height);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    /// Same limits as the constructor; the window keeps its size when they are broken.
    void resize(int width, int height);

    Display* display() const { return _display; }
    XResourceId id() const { return _window; }
    int width() const { return _width; }
    int height() const { return _height; }
    /// The window's origin in root coordinates.
    int x() const { return offscreenPosition; }
    int y() const { return offscreenPosition; }

private:
    Display* _display;
    XResourceId _window = 0;
    int _width;
    int _height;
};

} // namespace veltra::host
