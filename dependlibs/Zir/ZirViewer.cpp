#include <Zir/ZirViewer.h>

#include <osgDB/DatabasePager>
#include <osgViewer/api/X11/GraphicsWindowX11>

#include <thread>
#include <utility>

SceneLock::Guard::Guard(Guard&& other) noexcept
    : _lock(std::exchange(other._lock, nullptr)), _caller(other._caller)
{}

SceneLock::Guard& SceneLock::Guard::operator=(Guard&& other) noexcept
{
    if (this != &other)
    {
        release();
        _lock = std::exchange(other._lock, nullptr);
        _caller = other._caller;
    }
    return *this;
}

void SceneLock::Guard::release()
{
    SceneLock* lock = std::exchange(_lock, nullptr);
    if (!lock)
        return;
    // A call that changes the scene may call others that take the lock again: one frame, once the
    // outermost hold ends, draws all they changed.
    const bool outermost = _caller && --lock->_callerHolds == 0;
    lock->_mutex.unlock();
    if (outermost)
        lock->requestFrame();
}

SceneLock::Guard SceneLock::acquire()
{
    // Announced before blocking, so that the frame loop sees us and stops re-taking the lock.
    ++_waiting;
    _mutex.lock();
    --_waiting;
    ++_callerHolds;
    Guard guard(*this, true);
    runQueuedChanges();
    return guard;
}

SceneLock::Guard SceneLock::acquireForFrame()
{
    // During playback or a flight frames run back to back; without this the loop would take the
    // lock again right after dropping it and a main-thread caller could wait for many frames.
    while (_waiting.load() > 0)
        std::this_thread::yield();
    _mutex.lock();
    Guard guard(*this, false);
    runQueuedChanges();
    return guard;
}

void SceneLock::changeSoon(std::function<void()> change)
{
    {
        std::lock_guard<std::mutex> queue(_queueMutex);
        // Behind changes already waiting, never before them.
        if (!_queued.empty())
        {
            _queued.push_back(std::move(change));
            return;
        }
    }
    if (_mutex.try_lock())
    {
        ++_callerHolds;
        Guard guard(*this, true);
        runQueuedChanges(); // one may have come in since the look above
        change();
        return;
    }
    {
        std::lock_guard<std::mutex> queue(_queueMutex);
        _queued.push_back(std::move(change));
    }
    // For the case that the holder let go without looking at the queue.
    requestFrame();
}

void SceneLock::runQueuedChanges()
{
    std::vector<std::function<void()>> changes;
    {
        std::lock_guard<std::mutex> queue(_queueMutex);
        changes.swap(_queued);
    }
    for (std::function<void()>& change : changes)
        change();
    if (!changes.empty())
        requestFrame();
}

void SceneLock::requestFrame()
{
    {
        std::lock_guard<std::mutex> guard(_requestMutex);
        _frameRequested = true;
    }
    _requestWake.notify_one();
}

bool SceneLock::waitForRequest(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(_requestMutex);
    if (timeout.count() > 0)
        _requestWake.wait_for(guard, timeout, [this] { return _frameRequested; });
    return std::exchange(_frameRequested, false);
}

/// Lets the frame loop's hold of the scene lock go as drawing begins: from here on the frame reads
/// only the render graph that the cull built.
class ReleaseSceneLockForDrawing : public osg::Camera::DrawCallback
{
public:
    explicit ReleaseSceneLockForDrawing(ZirViewer* viewer) : _viewer(viewer) {}
    void operator()(osg::RenderInfo&) const override
    {
        osg::ref_ptr<ZirViewer> viewer;
        if (_viewer.lock(viewer))
            viewer->releaseSceneLockForDrawing();
    }

private:
    osg::observer_ptr<ZirViewer> _viewer;
};

ZirViewer::ZirViewer()
{
    getCamera()->addInitialDrawCallback(new ReleaseSceneLockForDrawing(this));
}

void ZirViewer::releaseSceneLockForDrawing()
{
    // Only the frame thread holds _frameHold; with another threading model the draw runs elsewhere
    // and _frameHold is not ours to touch, so the lock is then kept to the end of the frame.
    if (_frameHold && getThreadingModel() == SingleThreaded)
    {
        // Changes that came in during the traversals are made now, ahead of the next frame.
        _sceneLock.runQueuedChanges();
        _frameHold->release();
    }
}

void ZirViewer::addAnimation(std::function<bool()> running)
{
    if (running)
        _animations.push_back(std::move(running));
}

bool ZirViewer::checkNeedToDoFrame()
{
    if (_sceneLock.waitForRequest(std::chrono::milliseconds(0)))
        return true;
    SceneLock::Guard guard = _sceneLock.acquireForFrame();
    if (!isRealized())
        return false;
    if (_requestRedraw || _requestContinousUpdate)
        return true;
    osgDB::DatabasePager* pager = getDatabasePager();
    if (pager &&
        (pager->getDataToMergeListSize() > 0 || pager->requiresUpdateSceneGraph() || pager->getRequestsInProgress()))
        return true;
    for (const std::function<bool()>& running : _animations)
        if (running())
            return true;
    // Reads the window's input into the event queue; an event handler may then ask for a redraw.
    return checkEvents() || _requestRedraw || _requestContinousUpdate;
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
    // Whatever asks for a redraw during this frame asks for the next one.
    _requestRedraw = false;
    _frameHold = &guard;
    osgViewer::Viewer::frame(simulationTime);
    _frameHold = nullptr;
    guard.release();

    waitForWindowServer();
    if (_frameShown)
        _frameShown();
}

void ZirViewer::waitForWindowServer()
{
    // The swap hands the picture to the X server on the context's own connection; once the server
    // has answered a round trip on it, the picture is in the window.
    Contexts contexts;
    getContexts(contexts);
    for (osg::GraphicsContext* context : contexts)
        if (auto* window = dynamic_cast<osgViewer::GraphicsWindowX11*>(context))
            if (window->getDisplay())
                XSync(window->getDisplay(), False);
}
