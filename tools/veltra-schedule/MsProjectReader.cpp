#include "MsProjectReader.h"

#include "ScheduleDates.h"
#include "ScheduleError.h"
#include "TaskKeys.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <algorithm>
#include <sstream>
#include <string>

namespace veltra::schedule {

namespace {

namespace pt = boost::property_tree;

const char* const ProjectNamespace = "http://schemas.microsoft.com/project";

// Elements may carry a namespace prefix ("msp:Task"); the document's namespace is checked once at the root.
std::string localName(const std::string& qualified)
{
    const std::size_t colon = qualified.find(':');
    return colon == std::string::npos ? qualified : qualified.substr(colon + 1);
}

std::string childText(const pt::ptree& node, const std::string& wanted)
{
    for (const auto& [key, child] : node)
        if (localName(key) == wanted)
            return trimmed(child.data());
    return std::string();
}

bool isTrue(const std::string& text)
{
    return text == "1" || text == "true";
}

// The namespace declared for the root's own prefix.
bool declaresProjectNamespace(const std::string& rootKey, const pt::ptree& root)
{
    const std::size_t colon = rootKey.find(':');
    const std::string attribute = colon == std::string::npos ? "xmlns" : "xmlns:" + rootKey.substr(0, colon);
    const auto attributes = root.get_child_optional("<xmlattr>");
    return attributes && attributes->get<std::string>(attribute, "") == ProjectNamespace;
}

// The deepest element nesting of an XML text, read roughly (comments, CDATA, declarations and quoted attribute
// values skipped). The XML parser recurses once per level, so hostile nesting has to be refused before it runs.
std::size_t nestingDepth(const std::string& text)
{
    std::size_t depth = 0;
    std::size_t deepest = 0;
    auto skipPast = [&text](std::size_t from, const char* end) {
        const std::size_t found = text.find(end, from);
        return found == std::string::npos ? text.size() : found + std::char_traits<char>::length(end);
    };
    for (std::size_t i = text.find('<'); i < text.size(); i = text.find('<', i))
    {
        if (text.compare(i, 4, "<!--") == 0)
            i = skipPast(i + 4, "-->");
        else if (text.compare(i, 9, "<![CDATA[") == 0)
            i = skipPast(i + 9, "]]>");
        else if (text.compare(i, 2, "<?") == 0 || text.compare(i, 2, "<!") == 0)
            i = skipPast(i + 2, ">");
        else if (text.compare(i, 2, "</") == 0)
        {
            depth -= depth > 0;
            i = skipPast(i + 2, ">");
        }
        else
        {
            char quote = 0;
            std::size_t j = i + 1;
            for (; j < text.size() && (quote || text[j] != '>'); ++j)
                if (quote ? text[j] == quote : (text[j] == '"' || text[j] == '\''))
                    quote = quote ? 0 : text[j];
            const bool empty = j < text.size() && text[j - 1] == '/';
            if (!empty)
                deepest = std::max(deepest, ++depth);
            i = j;
        }
    }
    return deepest;
}

const std::size_t MaxNesting = 200;

class TaskRows
{
public:
    TaskRows(Schedule& schedule) : _schedule(schedule) {}

    void read(const pt::ptree& task)
    {
        const std::string uid = childText(task, "UID");
        const std::string name = childText(task, "Name");
        if (uid == "0" || isTrue(childText(task, "IsNull")) || name.empty())
        {
            ++_schedule.skippedRows;
            return;
        }
        ScheduleTask row;
        row.uid = uid;
        row.id = childText(task, "ID");
        row.name = name;
        row.wbs = childText(task, "WBS");
        row.outlineNumber = childText(task, "OutlineNumber");
        row.summary = isTrue(childText(task, "Summary"));
        row.milestone = isTrue(childText(task, "Milestone"));
        row.notes = childText(task, "Notes");
        row.startP = date(task, "Start", row);
        row.finishP = date(task, "Finish", row);
        row.startA = date(task, "ActualStart", row, false);
        row.finishA = date(task, "ActualFinish", row, false);
        _schedule.tasks.push_back(std::move(row));
    }

private:
    // Planned dates belong to every task, so their absence is worth a warning; actual dates are simply not there
    // for work that has not begun, and only an unreadable one is.
    std::string date(const pt::ptree& task, const char* element, const ScheduleTask& row, bool expected = true)
    {
        const std::string text = childText(task, element);
        const std::string date = calendarDateOf(text);
        if (date.empty() && (expected || !text.empty()))
        {
            ++_schedule.missingDates;
            _schedule.warnings.push_back("task UID " + row.uid + " \"" + row.name + "\": " + element + " " +
                                         (text.empty() ? "is missing" : "\"" + text + "\" is not a date") +
                                         "; left out");
        }
        return date;
    }

    Schedule& _schedule;
};

} // namespace

Schedule readMsProject(const std::string& text, const std::string& name)
{
    if (nestingDepth(text) > MaxNesting)
        throw ScheduleError(name + ": not a Microsoft Project XML document (elements nested deeper than " +
                            std::to_string(MaxNesting) + " levels)");
    pt::ptree document;
    try
    {
        std::istringstream stream(text);
        // No whitespace flags: they would also fold the line breaks of notes; fields are trimmed when read.
        pt::read_xml(stream, document);
    }
    catch (const pt::xml_parser_error& error)
    {
        throw ScheduleError(name + ": not an XML document (line " + std::to_string(error.line()) + ": " +
                            error.message() + ")");
    }

    const pt::ptree* project = nullptr;
    for (const auto& [key, child] : document)
        if (localName(key) == "Project" && declaresProjectNamespace(key, child))
            project = &child;
    if (!project)
        throw ScheduleError(name + ": not a Microsoft Project XML document (no <Project> element in namespace " +
                            ProjectNamespace + ")");

    Schedule schedule;
    TaskRows rows(schedule);
    for (const auto& [key, tasks] : *project)
        if (localName(key) == "Tasks")
            for (const auto& [taskKey, task] : tasks)
                if (localName(taskKey) == "Task")
                    rows.read(task);
    if (schedule.tasks.empty())
        throw ScheduleError(name + ": the project has no usable task (every row is blank or the project summary)");

    assignKeys(schedule, {{"WBS", [](const ScheduleTask& task) { return task.wbs; }},
                          {"OutlineNumber", [](const ScheduleTask& task) { return task.outlineNumber; }}});
    return schedule;
}

} // namespace veltra::schedule
