#pragma once

#include <stdexcept>

namespace veltra::schedule {

/// Input that cannot be used (missing file, wrong format, no usable task); the message says which and why.
class ScheduleError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace veltra::schedule
