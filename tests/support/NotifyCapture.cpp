#include "NotifyCapture.h"

namespace veltra::test {

class NotifyCapture::Handler : public osg::NotifyHandler
{
public:
    void notify(osg::NotifySeverity, const char* message) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.emplace_back(message);
    }

    mutable std::mutex mutex; // guards lines
    std::vector<std::string> lines;
};

NotifyCapture::NotifyCapture(osg::NotifySeverity level)
    : _previous(osg::getNotifyHandler()), _previousLevel(osg::getNotifyLevel()), _handler(new Handler)
{
    osg::setNotifyHandler(_handler.get());
    osg::setNotifyLevel(level);
}

NotifyCapture::~NotifyCapture()
{
    osg::setNotifyLevel(_previousLevel);
    osg::setNotifyHandler(_previous.get());
}

std::vector<std::string> NotifyCapture::lines() const
{
    std::lock_guard<std::mutex> lock(_handler->mutex);
    return _handler->lines;
}

bool NotifyCapture::contains(const std::string& text) const
{
    for (const std::string& line : lines())
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace veltra::test
