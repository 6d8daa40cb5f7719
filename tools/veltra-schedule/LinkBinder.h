#pragma once

#include "CsvTable.h"
#include "Schedule.h"

#include <string>

namespace veltra::schedule {

class IfcModelIndex;

/// How the rows of a link table name their task and their element.
struct LinkOptions
{
    std::string taskColumn = "Task";
    std::string taskKey = "wbs";  ///< "wbs", "id", "uid" or "name": what the task column holds
    std::string elementColumn = "GUID";
    std::string elementKey = "guid"; ///< "guid" (an IFC GlobalId of the model) or "id" (an element id)
};

/// What linking a table found. A row counts once among linked, empty keys and those with an unknown key; a row
/// whose task and element are both unknown counts under both unknowns.
struct LinkReport
{
    int rowsRead = 0;
    int rowsLinked = 0;
    int rowsEmptyKeys = 0;        ///< the task or the element cell is blank (or the row is too short)
    int rowsUnknownTask = 0;
    int distinctUnknownTasks = 0;
    int rowsUnknownElement = 0;   ///< GlobalIds the model lacks, or element ids that are no integer (or not in it)
    int distinctUnknownElements = 0;
    int rowsAmbiguousTask = 0;    ///< the task key names several tasks; the first in file order was taken
    int tasksWithoutElements = 0; ///< tasks other than summary rows that no row binds
    int elementsWithoutTasks = -1; ///< elements of the model no row binds; -1 without a model
    int bindingPairs = 0;         ///< distinct (task, element) pairs
};

/// Binds the elements named by the rows of `table` to the tasks of `schedule` they name. Tasks are matched by
/// their own WBS code, ID, UID or name (trimmed, byte for byte), never by the key they are written under.
/// `model` may be null when elements are given by id. Throws ScheduleError when a named column is missing, when
/// a key kind is unknown, and for GlobalIds without a model; `name` names the table in messages.
LinkReport bindLinks(Schedule& schedule, const CsvTable& table, const LinkOptions& options,
                     const IfcModelIndex* model, const std::string& name);

/// Counts the tasks without elements and the model's elements without tasks after binding.
void countUnbound(const Schedule& schedule, const IfcModelIndex* model, LinkReport& report);

} // namespace veltra::schedule
