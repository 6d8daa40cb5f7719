#pragma once

#include "app/HostOptions.h"

namespace veltra::host {

/// Runs this process as a page process: limits itself as `options` say, loads the plug-in, tells
/// the host it is ready over the channel `options.pageProcessChannel`, then serves the one page
/// the host gives it until the page or the host goes. Returns the process's exit status.
int runPageProcess(const HostOptions& options);

} // namespace veltra::host
