#pragma once

#include "site/Responses.h"

namespace veltra::host {

struct ServerContext;

/// Answers a plain HTTP request (WebSocket upgrades are the session's business): /veltra.js,
/// POST /bridge and static files, each after its security check. Runs the bridge handler.
Reply route(const ServerContext& context, const Request& request);

} // namespace veltra::host
