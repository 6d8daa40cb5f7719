#pragma once

// Forward declarations of the NPAPI types that the bridge's headers name. The full NPAPI headers pull in Xlib,
// whose macros (None, Bool, Status, True, False) clash with ordinary C++ names, so only sources include them.

#include <cstdint>

struct NPObject;
struct NPClass;
struct _NPVariant;
typedef struct _NPVariant NPVariant;
struct _NPP;
typedef struct _NPP NPP_t;
typedef NPP_t* NPP;
struct _NPNetscapeFuncs;
typedef struct _NPNetscapeFuncs NPNetscapeFuncs;
typedef void* NPIdentifier;
