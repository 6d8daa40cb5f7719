#include "RenderingThread.h"

#include <Zir/ZirViewer.h>

#include <osgViewer/Viewer>

#include <thread>

namespace {

// How long an idle loop sleeps between looks at the window's input and the pager; a scene change
// from the page wakes it at once.
constexpr std::chrono::milliseconds kIdlePoll(10);

// Waits until a frame is worth drawing or the poll interval has passed; true when one is.
bool waitForReasonToDraw(osgViewer::Viewer& viewer)
{
    if (viewer.getRunFrameScheme() != osgViewer::ViewerBase::ON_DEMAND || viewer.checkNeedToDoFrame())
        return true;
    if (auto* zir = dynamic_cast<ZirViewer*>(&viewer))
        return zir->waitForChange(kIdlePoll);
    std::this_thread::sleep_for(kIdlePoll);
    return false;
}

} // namespace

RenderingThread::RenderingThread(osgViewer::Viewer* viewer) : _viewer(viewer)
{}

RenderingThread::~RenderingThread()
{
    _stopRequested = true;
    while (isRunning())
        OpenThreads::Thread::YieldCurrentThread();
    if (_ran)
        join(); // the thread has ended; this only gives its resources back
    // The loop has ended (or never ran): nothing else reads the viewer's flag now.
    if (osgViewer::Viewer* viewer = _viewer.exchange(nullptr))
        viewer->setDone(true);
}

void RenderingThread::run()
{
    _ran = true;
    osgViewer::Viewer* viewer = _viewer;
    while (viewer)
    {
        // A viewer that draws on demand is left alone while nothing changes.
        if (waitForReasonToDraw(*viewer))
            viewer->frame(); // the viewer's default simulation time: its reference time
        if (testCancel() || viewer->done())
            break;
        if (_stopRequested)
        {
            viewer->setDone(true);
            break;
        }
    }
    _viewer = nullptr;
}
