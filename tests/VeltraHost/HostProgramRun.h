#pragma once

#include <string>

namespace veltra::test {

struct HostRun
{
    int status = -1;
    std::string output; // standard output and error together
};

/// Runs the host program at `program` with `arguments` (shell words) and no display, bounded to 30 s:
/// were an option to start the server, the program would wait for Ctrl+C and the limit ends it with
/// status 124; with no display, a started Xvfb could not go unnoticed either.
HostRun runHostProgram(const std::string& program, const std::string& arguments);

} // namespace veltra::test
