#pragma once

#include "capture/XTypes.h"

#include <string>

namespace veltra::host {

/// Catches the X errors of one display for its lifetime instead of letting Xlib's default handler
/// end the process. Errors of other displays still reach the handler that was installed before.
/// Xlib's error handler is process-wide: create traps only on the thread that owns the display
/// and never on two threads at once. Traps nest; an inner one keeps the errors it caught.
class XErrorTrap
{
public:
    explicit XErrorTrap(Display* display);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    /// Waits until the server has handled every request sent so far; true when none failed.
    bool sync();
    /// The first failure caught, in words; empty when none.
    std::string firstError() const;

private:
    Display* _display;
    Display* _outerDisplay;
    int _outerError;
    void* _outerHandler;
};

} // namespace veltra::host
