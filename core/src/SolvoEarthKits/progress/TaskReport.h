#pragma once

#include <SolvoEarthKits/progress/ProgressControl.h>

#include <string>

namespace SolvoEarthUtil {

// The report lines of a date change. Day counters count the start day as day 1; a counter that
// needs a date that does not read prints 0.

/// One side of a task: wbs + " " + name + label + "[" + start + " ~ " + finish + "] " + E + "/" + T,
/// with `label` "  计划" (plan) or "  实际" (actual); E the days elapsed up to today (at most the
/// finish), T the task's length.
std::string sideReportLine(const ProgressControl::ProgressControlGroup& task, bool plan, const std::string& today);

/// Both sides of a task, with unknown lengths printed "?". `planElapsed` and `actualElapsed`
/// receive the two elapsed-day counters (0 when the side has no start).
std::string taskReportLine(const ProgressControl::ProgressControlGroup& task, const std::string& today,
                           int& planElapsed, int& actualElapsed);

/// wbs + ": " + notes.
std::string notesLine(const ProgressControl::ProgressControlGroup& task);

} // namespace SolvoEarthUtil
