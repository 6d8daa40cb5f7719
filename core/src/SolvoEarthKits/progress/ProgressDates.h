#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <string>

namespace SolvoEarthUtil {

// Schedule dates are texts. Reading one needs at least 8 bytes holding three decimal integers
// (year, month, day; each with optional leading blanks, one optional sign and at least one digit)
// separated by exactly one arbitrary character each: "2015-03-07", "2015/3/7" and "2015.03.07"
// all read, and anything after the day ("2015-03-07 08:00:00") is ignored. Written dates are
// always "%04d-%02d-%02d", so dates of one schedule compare correctly as plain strings. Calendar
// arithmetic is done in the local time zone at local midnight, daylight saving not applied.

/// Reads year, month and day from `text`; false when it is shorter than 8 bytes or does not read
/// (a number outside the int range does not read). No range check on month or day.
SOLVOEARTHKITS_EXPORT bool parseDate(const std::string& text, int& year, int& month, int& day);

/// "%04d-%02d-%02d" of the date read, or "" when it does not read. "2015-13-40" stays as it is.
SOLVOEARTHKITS_EXPORT std::string normalizeDate(const std::string& text);

/// The date `days` (signed) after `text` in the local calendar, "%04d-%02d-%02d";
/// "" when `text` does not read or the result cannot be represented.
SOLVOEARTHKITS_EXPORT std::string addDays(const std::string& text, int days);

/// Whole days from `from` to `to` (both at local midnight), truncated toward zero;
/// -1 when either does not read (the same value as a genuine one-day backward difference).
SOLVOEARTHKITS_EXPORT long long daysBetween(const std::string& from, const std::string& to);

} // namespace SolvoEarthUtil
