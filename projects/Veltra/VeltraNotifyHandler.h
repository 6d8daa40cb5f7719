#pragma once

#include "scripting/BrowserHost.h"

#include <osg/Notify>
#include <osg/ref_ptr>

/// Routes the scene library's NOTICE and INFO messages to the page console of one instance;
/// other severities are dropped. Installed process-wide on window attach (the element attached
/// last receives every message) and taken out again on detach, when the handler installed before
/// it (or the library's default) takes over. May be called from any thread.
class VeltraNotifyHandler : public osg::NotifyHandler
{
public:
    explicit VeltraNotifyHandler(const FB::BrowserHostPtr& host) : _host(host) {}

    void notify(osg::NotifySeverity severity, const char* message) override;

    /// Makes `handler` the process-wide handler, remembering the one it replaces.
    static void install(VeltraNotifyHandler* handler);
    /// Takes `handler` out; when it is the current one, the most recent handler still installed
    /// (or the library's default) takes over.
    static void remove(VeltraNotifyHandler* handler);

protected:
    ~VeltraNotifyHandler() override = default;

private:
    FB::BrowserHostPtr _host;
};
