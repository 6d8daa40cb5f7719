#pragma once

#include "site/Connection.h"
#include "site/HttpServerOptions.h"

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace veltra::host {

/// `reply` as the answer to `call`, framed as the page reads replies: in parts when its Accept
/// header names them (long texts beside the JSON), else plain JSON.
BridgeAnswer bridgeAnswer(const Json::Value& reply, const BridgeCall& call);

/// What the host's server hands the pages' traffic to: the plug-in in this process (PageHost), or
/// a viewer process per page (PageRouter). Calls come from server threads; those of different
/// pages may overlap and must not wait on one another.
class PageService
{
public:
    virtual ~PageService() = default;

    /// A page connected through `connection`; it is told its number ("hello").
    virtual void open(const std::shared_ptr<Connection>& connection) = 0;
    /// One text message from page `id`. A malformed one is answered with an "error" message.
    virtual void message(std::uint64_t id, const std::string& text) = 0;
    /// Page `id` is gone: its instances are destroyed in order.
    virtual void close(std::uint64_t id) = 0;
    /// One bridge request of a page; blocks until its reply is known. Throws WireError for a
    /// malformed request or one naming no connected page.
    virtual BridgeAnswer bridge(const BridgeCall& call) = 0;

    /// Plug-in instances alive, closing ones included, and pages connected.
    virtual std::size_t instanceCount() const = 0;
    virtual std::size_t pageCount() const = 0;

    /// Closes every page (destroying its instances in order) and ends the plug-in's side; bridge
    /// calls still waiting are released first. Idempotent.
    virtual void shutdown() = 0;
};

} // namespace veltra::host
