#pragma once

#include "app/HostOptions.h"

#include <cstddef>
#include <memory>
#include <string>

namespace veltra::host {

/// The whole host: an X display (a private Xvfb when there is none), the browser thread with the
/// plug-in loaded, the pages connected over WebSocket and the web server in front of them.
class HostApp
{
public:
    /// Starts everything; throws std::exception naming what could not start.
    explicit HostApp(HostOptions options);
    /// shutdown().
    ~HostApp();
    HostApp(const HostApp&) = delete;
    HostApp& operator=(const HostApp&) = delete;

    /// "http://127.0.0.1:PORT/".
    std::string address() const;
    /// The display instances draw on, and whether the host started it.
    std::string displayName() const;
    bool ownsDisplay() const;
    /// Plug-in instances alive, over all pages.
    std::size_t instanceCount() const;
    std::size_t pageCount() const;

    /// Closes every page (destroying its instances in order), stops the server, shuts the plug-in
    /// down and ends the browser thread. Idempotent.
    void shutdown();

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};

} // namespace veltra::host
