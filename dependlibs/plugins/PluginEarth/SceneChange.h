#pragma once

#include <functional>

/// How the earth plug-in changes the scene a viewer is drawing. The plug-in reads files, parses text and builds
/// nodes on the caller's thread; only attaching the result to (or taking it out of) the drawn scene goes through
/// this runner, which the application sets to hold its scene lock around the change. The runner returns once the
/// change has been made. Without one the change runs at once, which suits a scene nobody draws yet.
using SceneChangeRunner = std::function<void(const std::function<void()>& change)>;

/// Runs `change` through `runner`, or directly when there is none.
inline void runSceneChange(const SceneChangeRunner& runner, const std::function<void()>& change)
{
    if (runner)
        runner(change);
    else
        change();
}
