#include "Veltra.h"

#include "PostIDCallback.h"
#include "RenderingThread.h"
#include "VeltraAPI.h"
#include "VeltraNotifyHandler.h"
#include "logging/Log.h"
#include "plugincore/PluginEvents.h"
#include "x11/PluginWindowX11.h"

#include <Zir/osgMainApp.h>

#include <osg/Notify>

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdlib>
#include <exception>

namespace {

// The page sees these two texts as GBK bytes ("窗口关闭shutdown...." and "执行析构Veltra....").
const char* const kShutdownText = "\xb4\xb0\xbf\xda\xb9\xd8\xb1\xd5shutdown....";
const char* const kDestructionText = "\xd6\xb4\xd0\xd0\xce\xf6\xb9\xb9Veltra....";

const unsigned kDefaultWidth = 1080;
const unsigned kDefaultHeight = 770;

/// The folder of the library this code is in, from the dynamic loader, ending with "/".
std::string moduleFolder()
{
    static const char anchor = 0;
    Dl_info info{};
    if (!dladdr(&anchor, &info) || !info.dli_fname)
        return "";
    // The loader gives the name as it was asked for, which may be relative to the working folder.
    std::string path = info.dli_fname;
    if (char* resolved = realpath(info.dli_fname, nullptr))
    {
        path = resolved;
        std::free(resolved);
    }
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

/// The window's size as X reports it; the browser's figures when X cannot say.
void windowSize(FB::PluginWindow& window, unsigned& width, unsigned& height)
{
    width = window.getWindowWidth();
    height = window.getWindowHeight();
    auto* x11 = dynamic_cast<FB::PluginWindowX11*>(&window);
    if (!x11 || !x11->getDisplay())
        return;
    Window rootWindow = 0;
    int x = 0;
    int y = 0;
    unsigned border = 0;
    unsigned depth = 0;
    unsigned w = 0;
    unsigned h = 0;
    if (XGetGeometry(x11->getDisplay(), x11->getNativeHandle(), &rootWindow, &x, &y, &w, &h, &border, &depth))
    {
        width = w;
        height = h;
    }
}

} // namespace

Veltra::Veltra() : _pluginFolder(moduleFolder()), _app(std::make_shared<osgMainApp>())
{}

Veltra::~Veltra()
{
    if (FB::BrowserHostPtr host = getHost())
        host->logToPage(kDestructionText);
    releaseRootJSAPI();
    if (FB::BrowserHostPtr host = getHost())
        host->releaseAllJSObjects();
    // The framework takes the window away before destroying us; this only covers a host that did not.
    if (_renderThread || _notifyHandler)
        onWindowDetached();
}

void Veltra::setPendingScript(const std::string& script)
{
    std::lock_guard<std::mutex> lock(_pendingLock);
    _pendingScript = script;
}

std::string Veltra::pendingScript() const
{
    std::lock_guard<std::mutex> lock(_pendingLock);
    return _pendingScript;
}

bool Veltra::handleEvent(const FB::PluginEvent& event, FB::PluginWindow* window)
{
    if (event.as<FB::MouseUpEvent>() || event.as<FB::MouseScrollEvent>())
        runPendingScript();
    else if (event.as<FB::AttachedEvent>())
        onWindowAttached(window);
    else if (event.as<FB::DetachedEvent>())
        onWindowDetached();
    // The viewer drawing into the window gets every event as well.
    return false;
}

FB::JSAPIPtr Veltra::createJSAPI()
{
    return std::make_shared<VeltraAPI>(std::static_pointer_cast<Veltra>(shared_from_this()), getHost());
}

void Veltra::shutdown()
{
    if (FB::BrowserHostPtr host = getHost())
        host->logToPage(kShutdownText);
}

void Veltra::onWindowAttached(FB::PluginWindow* window)
{
    if (!window)
        return;
    if (!_app)
        _app = std::make_shared<osgMainApp>();

    _notifyHandler = new VeltraNotifyHandler(getHost());
    VeltraNotifyHandler::install(_notifyHandler.get());

    unsigned reportedWidth = 0;
    unsigned reportedHeight = 0;
    windowSize(*window, reportedWidth, reportedHeight);
    unsigned width = reportedWidth ? reportedWidth : kDefaultWidth;
    unsigned height = reportedHeight ? reportedHeight : kDefaultHeight;

    _app->initViewer(static_cast<unsigned long>(window->getNativeHandle()), width, height);
    _app->setCachePath(_pluginFolder);
    OSG_NOTICE << "window size " << reportedWidth << " " << reportedHeight << std::endl;

    _postIdCallback = new PostIDCallback(this);
    _app->addCallBack(_postIdCallback.get());

    // The browser shows a copy of the window: it hears of every finished frame, so that it never
    // takes a picture halfway through one. The frame loop ends before the window goes.
    _app->viewer->setFrameShownCallback([window] { window->invalidateWindow(); });
    _renderThread = std::make_unique<RenderingThread>(_app->viewer.get());
    _renderThread->start();
}

void Veltra::onWindowDetached()
{
    if (FB::BrowserHostPtr host = getHost())
        host->logToPage("onWindowDetached");
    _renderThread.reset(); // returns once the frame in progress has finished
    _app.reset();
    _postIdCallback = nullptr;
    // The page this handler writes to may be going away; whoever attached before takes over again.
    if (_notifyHandler.valid())
    {
        VeltraNotifyHandler::remove(_notifyHandler.get());
        _notifyHandler = nullptr;
    }
}

void Veltra::runPendingScript()
{
    std::string script;
    {
        std::lock_guard<std::mutex> lock(_pendingLock);
        script.swap(_pendingScript);
    }
    FB::BrowserHostPtr host = getHost();
    if (script.empty() || !host)
        return;
    try
    {
        host->evaluateScript(script);
    }
    catch (const std::exception& error)
    {
        // A page without the function, or one whose function throws: the page's own business.
        FB::Log::trace("Veltra", "Running \"" + script + "\" failed: " + error.what());
    }
}
