#pragma once

#include "com/ComTypes.h"

namespace FB::Com {

class ComServer;

/// A new class factory of the control, with one reference, counted by `server` while it lives.
IClassFactory* newControlClassFactory(ComServer& server);

} // namespace FB::Com
