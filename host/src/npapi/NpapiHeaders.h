#pragma once

// The full NPAPI headers for the bridge's sources, with the Xlib macros that clash with C++ names removed
// (the bridge needs nothing from Xlib itself).

#include <npfunctions.h>
#include <npruntime.h>

#undef None
#undef Bool
#undef Status
#undef True
#undef False
#undef Success
#undef Always
