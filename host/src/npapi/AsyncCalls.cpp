#include "npapi/AsyncCalls.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace FB::Npapi::AsyncCalls {
namespace {

struct Entry
{
    const void* owner;
    std::function<void()> call;
};

std::mutex g_lock;
std::map<std::uintptr_t, Entry> g_calls;
std::uintptr_t g_lastToken = 0;

} // namespace

void* add(const void* owner, std::function<void()> call)
{
    std::lock_guard<std::mutex> lock(g_lock);
    std::uintptr_t token = ++g_lastToken;
    g_calls.emplace(token, Entry{owner, std::move(call)});
    return reinterpret_cast<void*>(token);
}

void run(void* token)
{
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        auto found = g_calls.find(reinterpret_cast<std::uintptr_t>(token));
        if (found == g_calls.end())
            return;
        call = std::move(found->second.call);
        g_calls.erase(found);
    }
    call();
}

void dropOwnedBy(const void* owner)
{
    std::map<std::uintptr_t, Entry> dropped;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        for (auto it = g_calls.begin(); it != g_calls.end();)
        {
            if (it->second.owner == owner)
            {
                dropped.insert(g_calls.extract(it++));
            }
            else
            {
                ++it;
            }
        }
    }
    // Destroyed outside the lock: a call's captures may release objects that schedule again.
}

void dropAll()
{
    std::map<std::uintptr_t, Entry> dropped;
    std::lock_guard<std::mutex> lock(g_lock);
    dropped.swap(g_calls);
}

std::size_t pending()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_calls.size();
}

} // namespace FB::Npapi::AsyncCalls
