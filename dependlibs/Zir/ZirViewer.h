#pragma once

#include <Zir/ZirExport.h>

#include <osgViewer/Viewer>

#include <atomic>
#include <chrono>
#include <mutex>

/// The one lock between the frame loop and the calls that change the scene from the browser's main
/// thread. The frame loop takes it around each frame; a main-thread caller announces itself first,
/// and the loop lets announced callers in between two frames instead of re-taking the lock at once.
/// Recursive, so a call that changes the scene may call another one.
class ZIR_EXPORT SceneLock
{
public:
    using Guard = std::unique_lock<std::recursive_mutex>;

    /// For callers outside the frame loop: waits for the frame in progress to end.
    Guard acquire();
    /// For the frame loop: lets waiting callers go first.
    Guard acquireForFrame();

private:
    std::recursive_mutex _mutex;
    std::atomic<int> _waiting{0};
};

/// The viewer of the ZIR application. frame() keeps to the run frame-rate limit
/// (setRunMaxFrameRate; 0 for none) by sleeping before the frame, outside the lock, and draws the
/// frame holding the scene lock.
class ZIR_EXPORT ZirViewer : public osgViewer::Viewer
{
public:
    ZirViewer() = default;

    void frame(double simulationTime = USE_REFERENCE_TIME) override;

    SceneLock& sceneLock() { return _sceneLock; }

protected:
    ~ZirViewer() override = default;

private:
    SceneLock _sceneLock;
    std::chrono::steady_clock::time_point _lastFrameStart{};
};
