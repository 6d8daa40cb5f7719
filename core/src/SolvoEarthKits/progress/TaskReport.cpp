#include <SolvoEarthKits/progress/TaskReport.h>

#include <SolvoEarthKits/progress/ProgressDates.h>

#include <algorithm>

namespace SolvoEarthUtil {

namespace {

// Counters are printed as C ints, as the reports always were.
std::string number(long long value)
{
    return std::to_string(static_cast<int>(value));
}

struct SideCounters
{
    std::string elapsed = "0";
    std::string length = "?";
    int elapsedValue = 0;
};

SideCounters countSide(const std::string& start, const std::string& finish, const std::string& today)
{
    SideCounters counters;
    if (start.empty())
        return counters;
    const long long elapsed = daysBetween(start, finish.empty() ? today : std::min(today, finish)) + 1;
    counters.elapsed = number(elapsed);
    counters.elapsedValue = static_cast<int>(elapsed);
    if (!finish.empty())
        counters.length = number(daysBetween(start, finish) + 1);
    return counters;
}

} // namespace

std::string sideReportLine(const ProgressControl::ProgressControlGroup& task, bool plan, const std::string& today)
{
    const std::string& start = plan ? task.startP() : task.startA();
    const std::string& finish = plan ? task.finishP() : task.finishA();
    const long long elapsed = daysBetween(start, std::min(today, finish)) + 1;
    const long long length = daysBetween(start, finish) + 1;
    return task.wbs + " " + task.name + (plan ? "  计划[" : "  实际[") + start + " ~ " + finish + "] " +
           number(elapsed) + "/" + number(length) + "\n";
}

std::string taskReportLine(const ProgressControl::ProgressControlGroup& task, const std::string& today,
                           int& planElapsed, int& actualElapsed)
{
    const SideCounters plan = countSide(task.startP(), task.finishP(), today);
    const SideCounters actual = countSide(task.startA(), task.finishA(), today);
    planElapsed = plan.elapsedValue;
    actualElapsed = actual.elapsedValue;
    return task.wbs + " " + task.name + "  计划[" + task.startP() + " ~ " + task.finishP() + "] " + plan.elapsed + "/" +
           plan.length + "  实际[" + task.startA() + " ~ " + task.finishA() + "] " + actual.elapsed + "/" +
           actual.length + "\n";
}

std::string notesLine(const ProgressControl::ProgressControlGroup& task)
{
    return task.wbs + ": " + task.notes + "\n";
}

} // namespace SolvoEarthUtil
