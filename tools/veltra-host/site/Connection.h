#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veltra::host {

/// One page's message channel, as handlers see it: the page's WebSocket, or the link a page
/// process has to it through the host. Every call is safe from any thread and returns at once;
/// messages go out in the order they were sent. After the channel has closed, calls do nothing.
class Connection
{
public:
    virtual ~Connection() = default;

    /// Unique within one server run.
    virtual std::uint64_t id() const = 0;

    virtual void send(std::string text) = 0;
    virtual void sendBinary(std::vector<std::uint8_t> bytes) = 0;
    /// Starts a normal close; the handler's onClose follows.
    virtual void close() = 0;

    /// Bytes queued but not yet written; a sender of pictures can skip one while the client lags.
    virtual std::size_t pendingBytes() const = 0;
};

} // namespace veltra::host
