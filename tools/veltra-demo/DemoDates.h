#pragma once

#include <string>

namespace veltra::demo {

/// "YYYY-MM-DD" of the proleptic Gregorian date `days` (signed) after year-month-day. Pure
/// calendar arithmetic, no time zone: the demo schedule must come out the same on every machine.
std::string civilDateAfter(int year, int month, int day, int days);

} // namespace veltra::demo
