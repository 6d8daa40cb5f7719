#pragma once

#include "Schedule.h"

#include <string>

namespace veltra::schedule {

/// Reads a Microsoft Project XML document (MSPDI, namespace http://schemas.microsoft.com/project) into a schedule:
/// every task but the project summary task (UID 0), null rows and rows without a name, in file order. Keys come
/// from the WBS codes when they are unique under the WBS order, else from the outline numbers, else from the
/// position. Throws ScheduleError for text that is not XML, XML that is not an MS Project document, and a
/// document without a usable task; `name` names the file in messages.
Schedule readMsProject(const std::string& text, const std::string& name);

} // namespace veltra::schedule
