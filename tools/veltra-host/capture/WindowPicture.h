#pragma once

#include "capture/PictureEncoder.h"
#include "capture/XTypes.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace veltra::host {

/// Follows what is drawn into one window (usually a HostWindow, children included) and reads its
/// picture back from the window's off-screen pixmap.
///
/// Damage is reported once per change: the server sends one DamageNotify when the window's
/// damage goes from empty to non-empty, and grabbing empties it again. Those events arrive on the
/// shared connection. The host's event pump should pass every event it reads to handle() of each
/// picture; changed() also takes this picture's events straight off the queue, so a picture
/// works without the pump too and its events never pile up. One picture per window: two on the
/// same window would take each other's events.
///
/// Pictures are whole: a read that the window was drawn into while it ran (damage reported between
/// emptying the damage and the read's reply) is thrown away and taken again later, and only the
/// part of the window that the damage covers is read back and compared with the last picture.
///
/// Same thread rules as HostWindow: every call on the thread that owns the display connection.
class WindowPicture
{
public:
    /// Throws CaptureError when the server lacks Damage or Composite or refuses the window.
    WindowPicture(Display* display, XResourceId window);
    ~WindowPicture();
    WindowPicture(const WindowPicture&) = delete;
    WindowPicture& operator=(const WindowPicture&) = delete;

    /// True when `event` was this picture's damage report (the caller may drop it then).
    bool handle(const XEvent& event);
    /// Whether something was drawn since the last grab; before the first grab, always true.
    bool changed();
    /// What changed() last knew, without asking the server again: true after a read that the window
    /// was drawn into meanwhile.
    bool knownChanged() const { return _changed; }

    /// Reads the whole picture now and starts a new round of change tracking. Throws CaptureError
    /// when the window is gone, not mapped, or not of a true-colour visual.
    RgbPicture grab();
    /// grab() and encode, whether or not anything changed.
    std::vector<std::uint8_t> encode(PictureFormat format, int quality = 80);
    /// Nothing when nothing was drawn since the last grab, when what was drawn looks exactly like
    /// the picture this call encoded last, or when the window was drawn into during the read (the
    /// change stays marked, so a later call reads it again).
    std::optional<std::vector<std::uint8_t>> encodeIfChanged(PictureFormat format, int quality = 80);

private:
    struct Box
    {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };
    struct Read
    {
        bool torn = false;    // drawn into while being read
        bool changed = false; // differs from what _shown held
    };

    void takeQueuedReports();
    /// Empties the damage and reads what it covered into _shown (all of it when `whole`, or when
    /// _shown does not match the window's size).
    Read readDamaged(bool whole);

    Display* _display;
    XResourceId _window;
    XResourceId _damage = 0;
    int _damageEventBase = 0;
    bool _changed = true;
    RgbPicture _shown;     // the window as last read
    bool _unsent = true;   // _shown differs from what encodeIfChanged sent last
};

} // namespace veltra::host
