#pragma once

#include <string>

namespace veltra::schedule {

/// The calendar date of an ISO 8601 date or date-time text ("2015-02-18T08:00:00" gives "2015-02-18"),
/// or "" when the text does not start with a valid YYYY-MM-DD date.
std::string calendarDateOf(const std::string& text);

/// `text` without leading and trailing blanks (spaces, tabs, line breaks).
std::string trimmed(const std::string& text);

} // namespace veltra::schedule
