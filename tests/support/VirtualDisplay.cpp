#include "VirtualDisplay.h"

#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace veltra::test {

namespace {

bool displayOpens()
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

class XvfbProcess
{
public:
    explicit XvfbProcess(pid_t pid) : _pid(pid) {}
    ~XvfbProcess()
    {
        ::kill(_pid, SIGTERM);
        ::waitpid(_pid, nullptr, 0);
    }

private:
    pid_t _pid;
};

std::unique_ptr<XvfbProcess> startXvfb(std::string& why)
{
    int fds[2];
    if (::pipe(fds) != 0)
    {
        why = "cannot create a pipe for Xvfb";
        return nullptr;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        why = "cannot fork Xvfb";
        return nullptr;
    }
    if (pid == 0)
    {
        // The server must not outlive a test process that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        ::close(fds[0]);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "+extension", "GLX",
                 "-extension", "MIT-SHM", "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }

    ::close(fds[1]);
    auto process = std::make_unique<XvfbProcess>(pid);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    pollfd fd{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&fd, 1, 15000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty())
    {
        why = "Xvfb did not start (is the xvfb package installed?)";
        return nullptr;
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return process;
}

} // namespace

bool ensureDisplay(std::string* why)
{
    static std::once_flag once;
    static std::unique_ptr<XvfbProcess> xvfb;
    static bool available = false;
    static std::string reason;

    std::call_once(once, [] {
        if (displayOpens())
        {
            available = true;
            return;
        }
        xvfb = startXvfb(reason);
        available = xvfb && displayOpens();
        if (xvfb && !available)
            reason = "Xvfb started but its display cannot be opened";
    });
    if (!available && why)
        *why = reason;
    return available;
}

} // namespace veltra::test
