#include "capture/XvfbServer.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace veltra::host {

XvfbServer::XvfbServer(const std::string& screen)
{
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("cannot create a pipe for Xvfb");
    const pid_t parent = ::getpid();
    _pid = ::fork();
    if (_pid < 0)
    {
        ::close(fds[0]);
        ::close(fds[1]);
        throw std::runtime_error("cannot start Xvfb");
    }
    if (_pid == 0)
    {
        // The server must not outlive an owner that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        // The owner may block its stop signals to wait for them; the server must still hear them.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::close(fds[0]);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "+extension", "GLX",
                 "+extension", "Composite", "-extension", "MIT-SHM", "-nolisten", "tcp", "-noreset",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }

    ::close(fds[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, 15000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty())
    {
        ::kill(_pid, SIGTERM);
        ::waitpid(_pid, nullptr, 0);
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    }
    _name = ":" + number;
}

XvfbServer::~XvfbServer()
{
    ::kill(_pid, SIGTERM);
    ::waitpid(_pid, nullptr, 0);
}

bool currentDisplayOpens()
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

std::unique_ptr<XvfbServer> startXvfbUnlessDisplayOpens(const std::string& screen)
{
    if (currentDisplayOpens())
        return nullptr;
    auto xvfb = std::make_unique<XvfbServer>(screen);
    ::setenv("DISPLAY", xvfb->displayName().c_str(), 1);
    return xvfb;
}

} // namespace veltra::host
