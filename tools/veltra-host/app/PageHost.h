#pragma once

#include "app/HostOptions.h"
#include "site/Connection.h"
#include "site/HttpServerOptions.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace veltra::host {

/// The plug-in's side of pages: a browser thread with the plug-in loaded, one session per
/// connected page with its instances, and the pictures of their windows. The host runs one for
/// all its pages with --single-process; otherwise each page process runs one for its page.
/// Calls may come from any thread; those for different pages may overlap.
class PageHost
{
public:
    /// Opens `displayName` for the pictures, loads and starts `options.plugin`. Throws
    /// std::exception naming what could not start.
    PageHost(const HostOptions& options, const std::string& displayName);
    /// shutdown().
    ~PageHost();
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    /// A page connected through `connection`; it is told its number ("hello").
    void open(const std::shared_ptr<Connection>& connection);
    /// One text message from page `id`. A malformed one is answered with an "error" message.
    void message(std::uint64_t id, const std::string& text);
    /// Page `id` is gone: its instances are destroyed in order on the browser thread.
    void close(std::uint64_t id);
    /// One bridge request of a page; blocks until its reply is known. Throws WireError for a
    /// malformed request or one naming no connected page.
    BridgeAnswer bridge(const BridgeCall& call);

    /// Plug-in instances alive, closing ones included, and pages connected.
    std::size_t instanceCount() const;
    std::size_t pageCount() const;

    /// Closes every page (destroying its instances in order), shuts the plug-in down and ends the
    /// browser thread. Bridge calls still waiting are released first. Idempotent.
    void shutdown();

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};

} // namespace veltra::host
