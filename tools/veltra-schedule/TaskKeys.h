#pragma once

#include "Schedule.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace veltra::schedule {

/// One candidate source of task keys: its name for the report and how to read it from a task.
using KeySource = std::pair<std::string, std::function<std::string(const ScheduleTask&)>>;

/// Gives every task of `schedule` its key from the first source whose codes are present on every task and unique
/// under the WBS order (so "1.02" and "1.2" clash, and so do "A.1" and "B.1"); when none is, the position in the
/// file ("1", "2", ...). Each source passed over adds a warning naming its clashing or missing codes.
void assignKeys(Schedule& schedule, const std::vector<KeySource>& sources);

/// The codes of `codes` that equal an earlier one under the WBS order, each with the one it clashes with, and how
/// many are empty.
struct KeyClashes
{
    std::vector<std::pair<std::string, std::string>> clashes;
    int empty = 0;
    bool usable() const { return clashes.empty() && empty == 0; }
};
KeyClashes findKeyClashes(const std::vector<std::string>& codes);

} // namespace veltra::schedule
