#include "LinkBinder.h"

#include "IfcModelIndex.h"
#include "ScheduleDates.h"
#include "ScheduleError.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

namespace veltra::schedule {

namespace {

std::string taskField(const ScheduleTask& task, const std::string& key)
{
    if (key == "wbs")
        return task.wbs;
    if (key == "id")
        return task.id;
    if (key == "uid")
        return task.uid;
    return task.name;
}

// A whole cell as an int, or -1: "12abc" and numbers outside the int range name no element.
int elementIdOfText(const std::string& text)
{
    if (text.empty())
        return -1;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT_MIN || value > INT_MAX)
        return -1;
    return static_cast<int>(value);
}

int requireColumn(const CsvTable& table, const std::string& column, const std::string& name)
{
    const int index = table.column(column);
    if (index >= 0)
        return index;
    std::string columns;
    for (const std::string& header : table.header)
        columns += (columns.empty() ? "\"" : ", \"") + header + "\"";
    throw ScheduleError(name + ": the table has no column \"" + column + "\" (its columns: " + columns + ")");
}

std::string cell(const std::vector<std::string>& record, int index)
{
    return index < static_cast<int>(record.size()) ? trimmed(record[static_cast<std::size_t>(index)]) : std::string();
}

} // namespace

LinkReport bindLinks(Schedule& schedule, const CsvTable& table, const LinkOptions& options,
                     const IfcModelIndex* model, const std::string& name)
{
    if (options.taskKey != "wbs" && options.taskKey != "id" && options.taskKey != "uid" && options.taskKey != "name")
        throw ScheduleError("unknown task key \"" + options.taskKey + "\" (wbs, id, uid or name)");
    if (options.elementKey != "guid" && options.elementKey != "id")
        throw ScheduleError("unknown element key \"" + options.elementKey + "\" (guid or id)");
    if (options.elementKey == "guid" && !model)
        throw ScheduleError("elements named by GlobalId need the IFC model (--model)");
    const int taskColumn = requireColumn(table, options.taskColumn, name);
    const int elementColumn = requireColumn(table, options.elementColumn, name);

    std::map<std::string, std::vector<std::size_t>> tasksByKey;
    for (std::size_t i = 0; i < schedule.tasks.size(); ++i)
    {
        const std::string key = taskField(schedule.tasks[i], options.taskKey);
        if (!key.empty())
            tasksByKey[key].push_back(i);
    }

    LinkReport report;
    std::set<std::string> unknownTasks;
    std::set<std::string> unknownElements;
    for (const std::vector<std::string>& record : table.records)
    {
        ++report.rowsRead;
        const std::string taskText = cell(record, taskColumn);
        const std::string elementText = cell(record, elementColumn);
        if (taskText.empty() || elementText.empty())
        {
            ++report.rowsEmptyKeys;
            continue;
        }
        const auto task = tasksByKey.find(taskText);
        int elementId = -1;
        if (options.elementKey == "guid")
            elementId = model->elementIdOfGlobalId(elementText);
        else
        {
            elementId = elementIdOfText(elementText);
            if (model && elementId >= 0 && !model->hasElementId(elementId))
                elementId = -1;
        }
        if (task == tasksByKey.end())
        {
            ++report.rowsUnknownTask;
            unknownTasks.insert(taskText);
        }
        if (elementId < 0)
        {
            ++report.rowsUnknownElement;
            unknownElements.insert(elementText);
        }
        if (task == tasksByKey.end() || elementId < 0)
            continue;
        if (task->second.size() > 1)
            ++report.rowsAmbiguousTask;
        schedule.bind(task->second.front(), elementId);
        ++report.rowsLinked;
    }
    report.distinctUnknownTasks = static_cast<int>(unknownTasks.size());
    report.distinctUnknownElements = static_cast<int>(unknownElements.size());
    countUnbound(schedule, model, report);
    return report;
}

void countUnbound(const Schedule& schedule, const IfcModelIndex* model, LinkReport& report)
{
    std::set<int> bound;
    report.tasksWithoutElements = 0;
    report.bindingPairs = 0;
    for (const ScheduleTask& task : schedule.tasks)
    {
        report.bindingPairs += static_cast<int>(task.elements.size());
        bound.insert(task.elements.begin(), task.elements.end());
        if (!task.summary && task.elements.empty())
            ++report.tasksWithoutElements;
    }
    report.elementsWithoutTasks = -1;
    if (!model)
        return;
    report.elementsWithoutTasks = 0;
    for (const ifc::BuildingElement& element : model->elements())
        report.elementsWithoutTasks += bound.count(element.elementId) == 0;
}

} // namespace veltra::schedule
