#pragma once

#include <functional>
#include <string>

namespace FB::Log {

/// Receives every trace line with the tag of the part of the framework that wrote it ("NPAPI", "PluginCore",
/// "BrowserHost", ...). May be called from any thread.
using Sink = std::function<void(const std::string& source, const std::string& message)>;

/// Writes one trace line. The default sink prints "Logging: [source] message" on standard error when the
/// environment variable VELTRA_TRACE is set to a non-empty value, and drops the line otherwise.
void trace(const std::string& source, const std::string& message);

/// Replaces the sink (an empty one restores the default) and returns the one it replaced.
Sink setSink(Sink sink);

} // namespace FB::Log
