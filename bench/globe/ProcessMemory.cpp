#include "globe/ProcessMemory.h"

#include <fstream>
#include <sstream>
#include <string>

namespace veltra::bench {

ProcessMemory readProcessMemory()
{
    ProcessMemory memory;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
    {
        // Lines read "VmHWM:\t  123456 kB".
        std::istringstream fields(line);
        std::string key;
        double kib = 0.0;
        if (!(fields >> key >> kib))
        {
            continue;
        }
        if (key == "VmHWM:")
        {
            memory.peakMiB = kib / 1024.0;
        }
        else if (key == "VmRSS:")
        {
            memory.residentMiB = kib / 1024.0;
        }
    }
    return memory;
}

} // namespace veltra::bench
