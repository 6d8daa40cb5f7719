#pragma once

#include <osg/Notify>
#include <osg/ref_ptr>

#include <mutex>
#include <string>
#include <vector>

namespace veltra::test {

/// Collects OpenSceneGraph notify lines while alive, at `level` and more severe, and restores
/// the previous handler and level afterwards.
class NotifyCapture
{
public:
    explicit NotifyCapture(osg::NotifySeverity level = osg::INFO);
    ~NotifyCapture();
    NotifyCapture(const NotifyCapture&) = delete;
    NotifyCapture& operator=(const NotifyCapture&) = delete;

    std::vector<std::string> lines() const;
    /// True when a captured line contains `text`.
    bool contains(const std::string& text) const;

private:
    class Handler;
    osg::ref_ptr<osg::NotifyHandler> _previous;
    osg::NotifySeverity _previousLevel;
    osg::ref_ptr<Handler> _handler;
};

} // namespace veltra::test
