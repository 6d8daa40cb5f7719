#pragma once

#include <OpenThreads/Thread>

#include <atomic>

namespace osgViewer {
class Viewer;
}

/// Runs the viewer's frames on a thread of its own, from window attach until detach, so that the
/// browser's main thread stays free for the page. The viewer paces itself. A viewer with the
/// ON_DEMAND run scheme draws only when checkNeedToDoFrame() says so; otherwise frames run back
/// to back.
///
/// Destroying the object (on the main thread) asks the loop to stop and waits until it has: the
/// frame in progress always completes first. A loop that ended on its own (the viewer said it is
/// done) is never restarted.
class RenderingThread : public OpenThreads::Thread
{
public:
    /// `viewer` is not owned and must outlive the thread; null gives a thread that ends at once.
    explicit RenderingThread(osgViewer::Viewer* viewer);
    ~RenderingThread() override;
    RenderingThread(const RenderingThread&) = delete;
    RenderingThread& operator=(const RenderingThread&) = delete;

    void run() override;

private:
    // Read by both threads: the loop clears it when it ends.
    std::atomic<osgViewer::Viewer*> _viewer;
    // The main thread's request to stop. The viewer's own done flag is a plain field that its frame
    // reads, so the loop sets it itself when it sees the request.
    std::atomic<bool> _stopRequested{false};
    // Set when the loop has begun, so that the destructor reaps only a thread that exists.
    std::atomic<bool> _ran{false};
};
