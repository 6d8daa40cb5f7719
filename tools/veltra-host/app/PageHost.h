#pragma once

#include "app/HostOptions.h"
#include "app/PageService.h"

#include <memory>
#include <string>

namespace veltra::host {

/// The plug-in's side of pages: a browser thread with the plug-in loaded, one session per
/// connected page with its instances, and the pictures of their windows. The host runs one for
/// all its pages with --single-process; otherwise each page process runs one for its page.
/// Calls may come from any thread; those for different pages may overlap.
class PageHost final : public PageService
{
public:
    /// Opens `displayName` for the pictures, loads and starts `options.plugin`. Throws
    /// std::exception naming what could not start. With `reportPages` each page's connection and
    /// close are written to standard output.
    PageHost(const HostOptions& options, const std::string& displayName, bool reportPages = true);
    /// shutdown().
    ~PageHost() override;
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    void open(const std::shared_ptr<Connection>& connection) override;
    void message(std::uint64_t id, const std::string& text) override;
    void close(std::uint64_t id) override;
    BridgeAnswer bridge(const BridgeCall& call) override;
    std::size_t instanceCount() const override;
    std::size_t pageCount() const override;
    void shutdown() override;

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};

} // namespace veltra::host
