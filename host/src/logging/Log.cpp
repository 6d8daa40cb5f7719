#include "logging/Log.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace FB::Log {
namespace {

std::mutex g_sinkLock;
Sink g_sink;

void defaultSink(const std::string& source, const std::string& message)
{
    static const bool enabled = [] {
        const char* flag = std::getenv("VELTRA_TRACE");
        return flag && *flag;
    }();
    if (enabled)
        std::fprintf(stderr, "Logging: %s\n", ("[" + source + "] " + message).c_str());
}

} // namespace

void trace(const std::string& source, const std::string& message)
{
    Sink sink;
    {
        std::lock_guard<std::mutex> lock(g_sinkLock);
        sink = g_sink;
    }
    // Called outside the lock so that a sink may trace again or replace itself.
    if (sink)
        sink(source, message);
    else
        defaultSink(source, message);
}

Sink setSink(Sink sink)
{
    std::lock_guard<std::mutex> lock(g_sinkLock);
    std::swap(g_sink, sink);
    return sink;
}

} // namespace FB::Log
