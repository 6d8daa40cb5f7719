#include "load/ViewerWindow.h"

#include "capture/XvfbServer.h"

#include <SolvoEarthUtil/loading/CacheWrites.h>

#include <unistd.h>

namespace veltra::bench {

ViewerWindow::ViewerWindow(unsigned width, unsigned height, const std::string& tag)
    : _cacheParent(std::filesystem::temp_directory_path() /
                   ("veltra-" + tag + "-cache-" + std::to_string(::getpid())))
{
    try
    {
        _xvfb = veltra::host::startXvfbUnlessDisplayOpens("1024x768x24");
    }
    catch (const std::exception& error)
    {
        _why = std::string("no X display and no Xvfb: ") + error.what();
        return;
    }
    _display = XOpenDisplay(nullptr);
    if (!_display)
    {
        _why = "cannot open the display";
        return;
    }
    _window = XCreateSimpleWindow(_display, DefaultRootWindow(_display), 0, 0, width, height, 0, 0, 0);
    XMapWindow(_display, _window);
    XSync(_display, False);
    app = std::make_unique<osgMainApp>();
    app->initViewer(_window, width, height);
    if (!app->viewer->isRealized())
    {
        _why = "no OpenGL on the display";
        return;
    }
    app->setCachePath(_cacheParent.string() + "/");
}

ViewerWindow::~ViewerWindow()
{
    app.reset();
    if (_display)
    {
        XDestroyWindow(_display, _window);
        XCloseDisplay(_display);
    }
    std::error_code ignored;
    std::filesystem::remove_all(_cacheParent, ignored);
}

void ViewerWindow::emptyCache()
{
    SolvoEarthUtil::waitForCacheWrites();
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(_cacheParent / "veltra-cache", ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

} // namespace veltra::bench
