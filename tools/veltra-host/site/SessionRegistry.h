#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace veltra::host {

class WebSocketSession;

/// The open WebSockets: it enforces the limit on their number and lets the server reach every one
/// of them when it stops. Holds them weakly; their own pending operations keep them alive.
class SessionRegistry
{
public:
    explicit SessionRegistry(std::size_t limit) : _limit(limit) {}

    /// False when the limit is reached.
    bool add(std::uint64_t id, const std::shared_ptr<WebSocketSession>& session);
    void remove(std::uint64_t id);
    std::size_t size() const;
    /// Empties the registry and returns the sessions still alive.
    std::vector<std::shared_ptr<WebSocketSession>> takeAll();

private:
    const std::size_t _limit;
    mutable std::mutex _mutex; // guards _sessions
    std::map<std::uint64_t, std::weak_ptr<WebSocketSession>> _sessions;
};

} // namespace veltra::host
