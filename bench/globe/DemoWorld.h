#pragma once

#include "veltra-demo/DemoGlobe.h"

namespace veltra::bench {

/// The demo globe (earth file and world raster, from the installed photograph when there is one), written once per
/// process into a private temporary folder that is removed when the process ends. Throws std::runtime_error when it
/// cannot be written.
const veltra::demo::DemoGlobeFiles& demoWorld();

/// "photograph" or "generated": which world raster the figures were taken with.
const char* demoWorldSourceName();

} // namespace veltra::bench
