#pragma once

#include "Schedule.h"

#include <string>

namespace veltra::schedule {

/// The task list of the progress simulation: a JSON array of the tasks in schedule order, UTF-8 unescaped.
/// Dates, notes and the type are written only when known; "summary" and "milestone" only when true.
std::string taskListJson(const Schedule& schedule);

/// The binding document: a JSON object from each task key with elements to its element ids.
std::string bindingJson(const Schedule& schedule);

/// Writes tasks.json and binding.json into `folder`, creating it. Throws ScheduleError when that fails.
void writeSchedule(const Schedule& schedule, const std::string& folder);

} // namespace veltra::schedule
