#include "VeltraNotifyHandler.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex g_handlersLock;
// Handlers installed and not yet removed, oldest first; the last one is the library's handler.
std::vector<osg::ref_ptr<VeltraNotifyHandler>> g_handlers;
osg::ref_ptr<osg::NotifyHandler> g_original;

} // namespace

void VeltraNotifyHandler::notify(osg::NotifySeverity severity, const char* message)
{
    if ((severity == osg::NOTICE || severity == osg::INFO) && message)
        _host->logToPage(message);
}

void VeltraNotifyHandler::install(VeltraNotifyHandler* handler)
{
    std::lock_guard<std::mutex> lock(g_handlersLock);
    if (g_handlers.empty())
        g_original = osg::getNotifyHandler();
    g_handlers.emplace_back(handler);
    osg::setNotifyHandler(handler);
}

void VeltraNotifyHandler::remove(VeltraNotifyHandler* handler)
{
    std::lock_guard<std::mutex> lock(g_handlersLock);
    auto found = std::find(g_handlers.begin(), g_handlers.end(), handler);
    if (found == g_handlers.end())
        return;
    bool wasCurrent = found + 1 == g_handlers.end();
    g_handlers.erase(found);
    if (!wasCurrent)
        return;
    if (!g_handlers.empty())
    {
        osg::setNotifyHandler(g_handlers.back().get());
        return;
    }
    osg::setNotifyHandler(g_original.valid() ? g_original.get() : new osg::StandardNotifyHandler);
    g_original = nullptr;
}
