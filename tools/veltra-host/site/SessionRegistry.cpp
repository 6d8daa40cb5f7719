#include "site/SessionRegistry.h"

namespace veltra::host {

bool SessionRegistry::add(std::uint64_t id, const std::shared_ptr<WebSocketSession>& session)
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (_sessions.size() >= _limit)
        return false;
    _sessions[id] = session;
    return true;
}

void SessionRegistry::remove(std::uint64_t id)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _sessions.erase(id);
}

std::size_t SessionRegistry::size() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _sessions.size();
}

std::vector<std::shared_ptr<WebSocketSession>> SessionRegistry::takeAll()
{
    std::map<std::uint64_t, std::weak_ptr<WebSocketSession>> taken;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        taken.swap(_sessions);
    }
    std::vector<std::shared_ptr<WebSocketSession>> alive;
    for (const auto& entry : taken)
        if (auto session = entry.second.lock())
            alive.push_back(std::move(session));
    return alive;
}

} // namespace veltra::host
