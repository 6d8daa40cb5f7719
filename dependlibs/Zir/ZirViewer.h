#pragma once

#include <Zir/ZirExport.h>

#include <osgViewer/Viewer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

/// The one lock between the frame loop and the calls that change the scene from the browser's main
/// thread. The frame loop holds it while it reads or writes the scene graph (events, update, cull)
/// and lets go before drawing; a main-thread caller announces itself first, and the loop lets
/// announced callers in between two frames instead of re-taking the lock at once. Recursive, so a
/// call that changes the scene may call another one.
///
/// A caller's hold ends with a request for a frame: whatever it changed is drawn, and a view that
/// nobody changes is not drawn again.
class ZIR_EXPORT SceneLock
{
public:
    /// One hold of the lock; movable, released when destroyed or by release().
    class ZIR_EXPORT Guard
    {
    public:
        Guard() = default;
        Guard(Guard&& other) noexcept;
        Guard& operator=(Guard&& other) noexcept;
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        ~Guard() { release(); }

        /// Lets go now; a caller's hold asks for a frame. Nothing when not held.
        void release();
        bool ownsLock() const { return _lock != nullptr; }

    private:
        friend class SceneLock;
        Guard(SceneLock& lock, bool caller) : _lock(&lock), _caller(caller) {}

        SceneLock* _lock = nullptr;
        bool _caller = false;
    };

    /// For callers outside the frame loop: waits for the scene traversals in progress to end.
    /// Changes queued by changeSoon run first, so that calls keep their order.
    Guard acquire();
    /// For the frame loop: lets waiting callers go first, then runs the queued changes.
    Guard acquireForFrame();

    /// For a change whose caller needs no answer from the scene: made now when the lock is free
    /// (or held by this thread already), otherwise queued, and the caller returns at once instead
    /// of waiting for the frame's traversals. Queued changes run in order under the lock, on
    /// whichever thread takes it next: the frame loop as it starts drawing or starts a frame, or a
    /// caller's acquire().
    void changeSoon(std::function<void()> change);
    /// Runs the queued changes; the lock must be held.
    void runQueuedChanges();

    /// Asks for a frame without changing anything under the lock. Any thread.
    void requestFrame();
    /// For the frame loop: waits until a frame is asked for or `timeout` has passed; true when one
    /// was asked for since the last call.
    bool waitForRequest(std::chrono::milliseconds timeout);

private:
    std::recursive_mutex _mutex;
    std::atomic<int> _waiting{0};
    int _callerHolds = 0; // a caller's holds, nested ones included; guarded by _mutex

    std::mutex _queueMutex; // guards _queued
    std::vector<std::function<void()>> _queued;

    std::mutex _requestMutex;
    std::condition_variable _requestWake;
    bool _frameRequested = true; // the first frame is always drawn
};

/// The viewer of the ZIR application.
///
/// Frames on demand: with the ON_DEMAND run scheme, checkNeedToDoFrame() answers whether anything
/// asks for a frame: a scene change made under the scene lock, input waiting in the window, a
/// manipulator that asks for redraws or keeps moving, pages still loading in the database pager,
/// or a running animation (see addAnimation). A frame loop calls it, and waitForChange() while it
/// answers no, so a still view costs nothing.
///
/// frame() keeps to the run frame-rate limit (setRunMaxFrameRate; 0 for none) by sleeping before
/// the frame, outside the lock, and holds the scene lock for the event, update and cull
/// traversals only: the lock is let go when drawing begins. Drawing reads only what the cull
/// handed it, which the render graph keeps alive, so a main-thread change must replace a state
/// set or drawable that may be drawn rather than edit it in place.
class ZIR_EXPORT ZirViewer : public osgViewer::Viewer
{
public:
    ZirViewer();

    void frame(double simulationTime = USE_REFERENCE_TIME) override;
    bool checkNeedToDoFrame() override;

    /// Frame loop: waits up to `timeout` for a scene change; true when one came.
    bool waitForChange(std::chrono::milliseconds timeout) { return _sceneLock.waitForRequest(timeout); }

    /// Frames keep running while `running` answers true; it is asked on the frame thread under the
    /// scene lock. Add under the scene lock.
    void addAnimation(std::function<bool()> running);

    /// Called on the frame thread after each frame, once the frame's picture has reached the window
    /// (the X server has it), so that whoever shows the window may take it. Set before frames run.
    void setFrameShownCallback(std::function<void()> shown) { _frameShown = std::move(shown); }

    SceneLock& sceneLock() { return _sceneLock; }

protected:
    ~ZirViewer() override = default;

private:
    friend class ReleaseSceneLockForDrawing;
    void releaseSceneLockForDrawing();
    void waitForWindowServer();

    SceneLock _sceneLock;
    // The frame loop's hold during a frame, let go when drawing begins. Frame thread only.
    SceneLock::Guard* _frameHold = nullptr;
    std::vector<std::function<bool()>> _animations;
    std::function<void()> _frameShown;
    std::chrono::steady_clock::time_point _lastFrameStart{};
};
