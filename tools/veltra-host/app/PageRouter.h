#pragma once

#include "app/HostOptions.h"
#include "app/PageService.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace veltra::host {

class PageProcess;

/// Pages served by viewer processes of their own: each connected page gets one (the spare kept
/// started ahead, when it is ready), and its messages, bridge calls and pictures travel through
/// that process's channel. Nothing here is shared between pages but the map that finds their
/// processes, so no page's call waits behind another's. A process that ends while its page is
/// open (a crash) is named in the host's output, and the page is told ("crashed"); its calls then
/// fail with "The plug-in instance is gone" until it reloads.
class PageRouter final : public PageService
{
public:
    /// `options.display` names the display the processes draw on. Starts the spare and waits until
    /// it is ready; throws std::exception naming why when it cannot start.
    explicit PageRouter(HostOptions options);
    ~PageRouter() override;
    PageRouter(const PageRouter&) = delete;
    PageRouter& operator=(const PageRouter&) = delete;

    void open(const std::shared_ptr<Connection>& connection) override;
    void message(std::uint64_t id, const std::string& text) override;
    void close(std::uint64_t id) override;
    BridgeAnswer bridge(const BridgeCall& call) override;
    std::size_t instanceCount() const override;
    std::size_t pageCount() const override;
    void shutdown() override;

private:
    std::shared_ptr<PageProcess> process(std::uint64_t page) const;
    std::shared_ptr<PageProcess> takeProcess();
    void keepSpare();
    /// A page's process has ended: `openPage` is the page's connection when it was still open (a crash).
    void ended(std::uint64_t page, int pid, const std::string& why, const std::shared_ptr<Connection>& openPage);

    const HostOptions _options;

    mutable std::mutex _lock; // guards the fields below
    std::condition_variable _spareWanted;
    std::map<std::uint64_t, std::shared_ptr<PageProcess>> _pages;
    std::vector<std::shared_ptr<PageProcess>> _closing; // pages gone, processes still ending
    std::shared_ptr<PageProcess> _spare;
    bool _stopping = false;
    std::thread _spareMaker;
};

} // namespace veltra::host
