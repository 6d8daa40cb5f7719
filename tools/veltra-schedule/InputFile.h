#pragma once

#include <string>

namespace veltra::schedule {

/// The bytes of the file at `path`. Throws ScheduleError naming the file when it is missing, a folder or
/// unreadable.
std::string readInputFile(const std::string& path);

} // namespace veltra::schedule
