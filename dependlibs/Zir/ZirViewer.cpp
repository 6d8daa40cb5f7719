#include <Zir/ZirViewer.h>

#include <thread>

SceneLock::Guard SceneLock::acquire()
{
    // Announced before blocking, so that the frame loop sees us and stops re-taking the lock.
    ++_waiting;
    Guard guard(_mutex);
    --_waiting;
    return guard;
}

SceneLock::Guard SceneLock::acquireForFrame()
{
    // Frames run back to back; without this the loop would take the lock again right after
    // dropping it and a main-thread caller could wait for many frames.
    while (_waiting.load() > 0)
        std::this_thread::yield();
    return Guard(_mutex);
}

void ZirViewer::frame(double simulationTime)
{
    // Paced outside the lock, so that the main thread can change the scene while we wait.
    const double maxRate = getRunMaxFrameRate();
    if (maxRate > 0.0 && _lastFrameStart != std::chrono::steady_clock::time_point{})
    {
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / maxRate));
        std::this_thread::sleep_until(_lastFrameStart + period);
    }
    _lastFrameStart = std::chrono::steady_clock::now();

    SceneLock::Guard guard = _sceneLock.acquireForFrame();
    // The base class would realize an unrealized viewer itself, opening a window of its own; a
    // viewer without the window it was handed draws nothing instead.
    if (!isRealized())
        return;
    osgViewer::Viewer::frame(simulationTime);
}
