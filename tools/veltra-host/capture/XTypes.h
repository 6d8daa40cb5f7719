#pragma once

// Xlib's own names, declared without Xlib.h: its macros (None, Bool, Status, Success) break other
// headers, so only the files that talk to the server include it.
typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

namespace veltra::host {

/// An X resource id (Xlib's Window, Pixmap and Damage are all this type).
using XResourceId = unsigned long;

} // namespace veltra::host
