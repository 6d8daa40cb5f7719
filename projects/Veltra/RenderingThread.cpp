#include "RenderingThread.h"

#include <osgViewer/Viewer>

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
