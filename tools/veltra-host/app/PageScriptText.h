#pragma once

namespace veltra::host {

/// The page script served as /veltra.js, with "%SECRET%" where the run's secret goes.
const char* pageScriptTemplate();

} // namespace veltra::host
