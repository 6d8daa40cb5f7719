#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace veltra::schedule {

/// One row of the task list the progress simulation reads, with what the sources say about it.
struct ScheduleTask
{
    std::string key;   ///< written as "wbs": unique under the WBS order over the whole schedule
    std::string wbs;   ///< the source's own code (MS Project WBS, IFC Identification), "" when none
    std::string id;    ///< MS Project ID; the STEP instance number for IFC tasks
    std::string uid;   ///< MS Project UID; the GlobalId for IFC tasks
    std::string outlineNumber;
    std::string name;
    std::string notes;
    std::string type;  ///< "拆除" for demolition tasks, else ""
    bool summary = false;
    bool milestone = false;
    std::string startP, finishP, startA, finishA; ///< "YYYY-MM-DD" or "" when unknown
    std::vector<int> elements;                      ///< bound element ids, each once, in order of binding
};

/// A schedule read from a source: its tasks in file order and what was worth a warning.
struct Schedule
{
    std::vector<ScheduleTask> tasks;
    std::string keySource; ///< where the keys came from ("WBS", "OutlineNumber", "Identification", ...)
    std::vector<std::string> warnings;
    int skippedRows = 0;   ///< rows left out (blank rows, the project summary task)
    int missingDates = 0;  ///< dates left out because they were absent or unreadable

    /// Binds `elementId` to the task at `index` unless it is bound already.
    void bind(std::size_t index, int elementId);

private:
    std::set<std::pair<std::size_t, int>> _bound; // (task index, element id) pairs bound so far
};

} // namespace veltra::schedule
