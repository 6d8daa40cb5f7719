#pragma once

#include <string>
#include <vector>

namespace veltra::test {

// What the host tests and PagesBench count of processes, from /proc.

/// The entries of a /proc folder ("/proc/self/fd", "/proc/self/task"), "." and ".." left out.
std::vector<std::string> procEntries(const std::string& folder);

/// This process's children running `program`, zombies included (a child not reaped counts).
std::vector<int> childrenRunning(const std::string& program);

/// Resident memory of process `pid` in MiB; 0 when it cannot be read.
double residentMiB(int pid);

/// The value below which the fraction `q` of `values` lies (0 for none).
double quantile(std::vector<double> values, double q);

} // namespace veltra::test
