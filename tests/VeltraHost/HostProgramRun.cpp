#include "HostProgramRun.h"

#include <sys/wait.h>

#include <cstdio>

namespace veltra::test {

HostRun runHostProgram(const std::string& program, const std::string& arguments)
{
    const std::string command = "timeout 30 env -u DISPLAY '" + program + "' " + arguments + " 2>&1";
    HostRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace veltra::test
