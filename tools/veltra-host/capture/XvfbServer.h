#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

namespace veltra::host {

/// A private virtual X server (Xvfb) for a process that has no display: started on a free display
/// number, with OpenGL through GLX and the Composite extension the host's pictures need, and ended
/// with its owner (or when the owner dies).
class XvfbServer
{
public:
    /// Starts the server and waits until it accepts connections. Throws std::runtime_error when it
    /// cannot be started (the xvfb package missing, say).
    explicit XvfbServer(const std::string& screen = "1920x1080x24");
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    /// ":N".
    const std::string& displayName() const { return _name; }

private:
    pid_t _pid = -1;
    std::string _name;
};

/// Whether the display $DISPLAY names can be opened now.
bool currentDisplayOpens();

/// For a program that needs some display: null when $DISPLAY can be opened; otherwise a private
/// Xvfb of `screen`, whose name is put in $DISPLAY. Throws as XvfbServer does when none can start.
std::unique_ptr<XvfbServer> startXvfbUnlessDisplayOpens(const std::string& screen = "1920x1080x24");

} // namespace veltra::host
