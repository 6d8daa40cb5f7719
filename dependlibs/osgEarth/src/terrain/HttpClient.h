#pragma once

#include <cstddef>
#include <string>

namespace osgEarth::Terrain {

/// What one GET brought back. `ok` only for a complete 2xx answer; otherwise `error` says why (with the status
/// when the server answered).
struct HttpResponse
{
    bool ok = false;
    long status = 0;
    std::string body;
    std::string contentType;
    std::string error;
};

/// Bounds on one request, so a slow or hostile server can neither hang a pager thread nor fill memory.
struct HttpLimits
{
    long connectTimeoutMs = 5000;
    long totalTimeoutMs = 15000;
    std::size_t maxBodyBytes = 32u * 1024u * 1024u;
};

/// Fetches `url` (http or https only; redirects followed within those schemes). Safe to call from any thread at
/// once: each call uses its own transfer handle.
HttpResponse httpGet(const std::string& url, const HttpLimits& limits = HttpLimits());

} // namespace osgEarth::Terrain
