#pragma once

#include <string>

namespace veltra::test {

/// Makes sure an X display is reachable for rendering tests. When DISPLAY is unset or cannot be
/// opened, starts a private Xvfb (GLX on, Mesa's software OpenGL) on a free display number,
/// points DISPLAY at it and stops it when the process ends. False, with the reason in `why`,
/// when no display can be had.
bool ensureDisplay(std::string* why = nullptr);

} // namespace veltra::test
