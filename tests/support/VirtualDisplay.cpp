#include "VirtualDisplay.h"

#include "capture/XvfbServer.h"

#include <exception>
#include <memory>
#include <mutex>

namespace veltra::test {

bool ensureDisplay(std::string* why)
{
    static std::once_flag once;
    static std::unique_ptr<veltra::host::XvfbServer> xvfb;
    static bool available = false;
    static std::string reason;

    std::call_once(once, [] {
        try
        {
            xvfb = veltra::host::startXvfbUnlessDisplayOpens("1280x1024x24");
        }
        catch (const std::exception& error)
        {
            reason = error.what();
            return;
        }
        available = veltra::host::currentDisplayOpens();
        if (!available)
            reason = "Xvfb started but its display cannot be opened";
    });
    if (!available && why)
        *why = reason;
    return available;
}

} // namespace veltra::test
