#pragma once

namespace veltra::bench {

/// This process's memory as the kernel reports it, in MiB: the peak resident set (VmHWM) and the current one
/// (VmRSS). Both 0 where /proc/self/status cannot be read.
struct ProcessMemory
{
    double peakMiB = 0.0;
    double residentMiB = 0.0;
};

ProcessMemory readProcessMemory();

} // namespace veltra::bench
