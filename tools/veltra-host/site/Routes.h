#pragma once

#include "site/Responses.h"

#include <string_view>

namespace veltra::host {

struct ServerContext;

/// Whether a request target names the bridge (POST /bridge), whose bodies have their own limit.
bool isBridgeTarget(std::string_view target);

/// Answers a plain HTTP request (WebSocket upgrades are the session's business): /veltra.js,
/// POST /bridge and static files, each after its security check. Runs the bridge handler.
Reply route(const ServerContext& context, const Request& request);

} // namespace veltra::host
