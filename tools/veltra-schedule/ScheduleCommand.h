#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace veltra::schedule {

/// Exit statuses of veltra-schedule.
enum ExitStatus
{
    ExitSuccess = 0,
    ExitBadInput = 1, ///< a file missing, unreadable or not what it should be, or no usable task
    ExitUsage = 2,    ///< the command line is wrong
};

/// The command line of veltra-schedule, the program's name left out. Writes the report to `out`, warnings and
/// errors to `err`, and answers the exit status.
int runScheduleCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

/// How to call the program.
std::string scheduleUsage();

} // namespace veltra::schedule
