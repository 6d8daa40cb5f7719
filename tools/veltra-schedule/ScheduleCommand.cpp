#include "ScheduleCommand.h"

#include "CsvTable.h"
#include "IfcModelIndex.h"
#include "IfcScheduleReader.h"
#include "InputFile.h"
#include "LinkBinder.h"
#include "MsProjectReader.h"
#include "ScheduleError.h"
#include "ScheduleWriter.h"

#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>

namespace veltra::schedule {

namespace {

const std::size_t ShownWarnings = 50;

struct UsageError
{
    std::string message;
};

struct Options
{
    std::map<std::string, std::string> values; // option name without dashes to its value
    bool help = false;

    bool has(const std::string& name) const { return values.count(name) > 0; }
    std::string get(const std::string& name, const std::string& fallback = {}) const
    {
        const auto found = values.find(name);
        return found == values.end() ? fallback : found->second;
    }
};

Options parseOptions(const std::vector<std::string>& arguments)
{
    static const std::set<std::string> known = {"plan",     "links",        "model",       "out",
                                                "link-task", "task-key",    "link-element", "element-key",
                                                "ifc-schedule"};
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i)
    {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h")
        {
            options.help = true;
            continue;
        }
        if (argument.compare(0, 2, "--") != 0)
            throw UsageError{"unexpected argument \"" + argument + "\""};
        std::string name = argument.substr(2);
        std::optional<std::string> value;
        const std::size_t equals = name.find('=');
        if (equals != std::string::npos)
        {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (!known.count(name))
            throw UsageError{"unknown option \"--" + name + "\""};
        if (!value)
        {
            if (i + 1 >= arguments.size())
                throw UsageError{"--" + name + " needs a value"};
            value = arguments[++i];
        }
        if (!options.values.emplace(name, *value).second)
            throw UsageError{"--" + name + " is given twice"};
    }
    return options;
}

void checkOptions(const Options& options)
{
    if (!options.has("out"))
        throw UsageError{"--out is required"};
    if (options.get("out").empty())
        throw UsageError{"--out needs a folder"};
    const bool fromIfc = options.has("ifc-schedule");
    const bool fromPlan = options.has("plan") || options.has("links");
    if (fromIfc == fromPlan)
        throw UsageError{fromIfc ? "--ifc-schedule reads tasks and links from one file; it takes no --plan, "
                                   "--links or --model"
                                 : "give either --plan and --links, or --ifc-schedule"};
    if (fromIfc)
    {
        for (const char* name : {"model", "link-task", "task-key", "link-element", "element-key"})
            if (options.has(name))
                throw UsageError{std::string("--") + name + " belongs to --plan, not to --ifc-schedule"};
        return;
    }
    if (!options.has("plan") || !options.has("links"))
        throw UsageError{"--plan and --links go together"};
    const std::string taskKey = options.get("task-key", "wbs");
    if (taskKey != "wbs" && taskKey != "id" && taskKey != "uid" && taskKey != "name")
        throw UsageError{"--task-key is wbs, id, uid or name, not \"" + taskKey + "\""};
    const std::string elementKey = options.get("element-key", "guid");
    if (elementKey != "guid" && elementKey != "id")
        throw UsageError{"--element-key is guid or id, not \"" + elementKey + "\""};
}

std::string plural(int count, const std::string& one, const std::string& many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void reportSchedule(const Schedule& schedule, const std::string& source, const std::string& kind, std::ostream& out)
{
    int summaries = 0;
    int milestones = 0;
    for (const ScheduleTask& task : schedule.tasks)
    {
        summaries += task.summary;
        milestones += task.milestone;
    }
    out << "schedule: " << source << " (" << kind << ")\n";
    out << "tasks: " << schedule.tasks.size() << " (" << plural(summaries, "summary", "summaries") << ", "
        << plural(milestones, "milestone", "milestones") << "), keyed by " << schedule.keySource << "\n";
    out << "rows skipped: " << schedule.skippedRows << "\n";
    out << "dates left out: " << schedule.missingDates << "\n";
}

void reportLinks(const LinkReport& report, const LinkOptions& options, std::ostream& out)
{
    const std::string elementKind = options.elementKey == "guid" ? "GlobalIds" : "element ids";
    out << "rows read: " << report.rowsRead << "\n";
    out << "rows linked: " << report.rowsLinked << "\n";
    out << "rows with empty keys: " << report.rowsEmptyKeys << "\n";
    out << "rows with unknown task keys: " << report.rowsUnknownTask << " (" << report.distinctUnknownTasks
        << " distinct)\n";
    out << "rows with unknown " << elementKind << ": " << report.rowsUnknownElement << " ("
        << report.distinctUnknownElements << " distinct)\n";
    out << "rows naming several tasks: " << report.rowsAmbiguousTask << "\n";
}

void reportBinding(const Schedule& schedule, const LinkReport& report, std::ostream& out)
{
    int boundTasks = 0;
    for (const ScheduleTask& task : schedule.tasks)
        boundTasks += !task.elements.empty();
    out << "tasks with elements: " << boundTasks << " (" << report.bindingPairs << " bindings)\n";
    out << "tasks without elements: " << report.tasksWithoutElements << "\n";
    if (report.elementsWithoutTasks >= 0)
        out << "elements without tasks: " << report.elementsWithoutTasks << "\n";
}

void printWarnings(const std::vector<std::string>& warnings, std::ostream& err)
{
    for (std::size_t i = 0; i < warnings.size() && i < ShownWarnings; ++i)
        err << "veltra-schedule: warning: " << warnings[i] << "\n";
    if (warnings.size() > ShownWarnings)
        err << "veltra-schedule: warning: and " << warnings.size() - ShownWarnings << " more warnings\n";
}

void runPlan(const Options& options, std::ostream& out, std::ostream& err)
{
    const std::string planPath = options.get("plan");
    const std::string linksPath = options.get("links");
    LinkOptions link;
    link.taskColumn = options.get("link-task", link.taskColumn);
    link.taskKey = options.get("task-key", link.taskKey);
    link.elementColumn = options.get("link-element", link.elementColumn);
    link.elementKey = options.get("element-key", link.elementKey);
    if (link.elementKey == "guid" && !options.has("model"))
        throw ScheduleError("--element-key guid names elements by IFC GlobalId: give the model with --model");

    Schedule schedule = readMsProject(readInputFile(planPath), planPath);
    const CsvTable table = parseCsv(readInputFile(linksPath), linksPath);
    std::unique_ptr<IfcModelIndex> model;
    if (options.has("model"))
        model = std::make_unique<IfcModelIndex>(readInputFile(options.get("model")), options.get("model"));
    const LinkReport report = bindLinks(schedule, table, link, model.get(), linksPath);

    writeSchedule(schedule, options.get("out"));
    printWarnings(schedule.warnings, err);
    reportSchedule(schedule, planPath, "Microsoft Project XML", out);
    out << "links: " << linksPath << " (task column \"" << link.taskColumn << "\" by " << link.taskKey
        << ", element column \"" << link.elementColumn << "\" by " << link.elementKey << ")\n";
    if (model)
        out << "model: " << options.get("model") << " (" << model->document().schema() << ", "
            << model->elements().size() << " elements)\n";
    reportLinks(report, link, out);
    reportBinding(schedule, report, out);
    out << "wrote: " << options.get("out") << "/tasks.json, " << options.get("out") << "/binding.json\n";
}

void runIfcSchedule(const Options& options, std::ostream& out, std::ostream& err)
{
    const std::string path = options.get("ifc-schedule");
    const IfcModelIndex model(readInputFile(path), path);
    Schedule schedule = readIfcSchedule(model, path);
    LinkReport report;
    countUnbound(schedule, &model, report);

    writeSchedule(schedule, options.get("out"));
    printWarnings(schedule.warnings, err);
    reportSchedule(schedule, path, model.document().schema() + " work schedule", out);
    out << "model: " << path << " (" << model.elements().size() << " elements)\n";
    reportBinding(schedule, report, out);
    out << "wrote: " << options.get("out") << "/tasks.json, " << options.get("out") << "/binding.json\n";
}

} // namespace

std::string scheduleUsage()
{
    return "usage: veltra-schedule --plan plan.xml --links links.csv [--model house.ifc] --out DIR\n"
           "                       [--link-task COLUMN] [--task-key wbs|id|uid|name]\n"
           "                       [--link-element COLUMN] [--element-key guid|id]\n"
           "       veltra-schedule --ifc-schedule file.ifc --out DIR\n"
           "\n"
           "Writes DIR/tasks.json and DIR/binding.json for the progress simulation.\n"
           "  --plan          Microsoft Project XML (MSPDI) schedule\n"
           "  --links         link table (CSV; ',', ';' or tab separated, header row)\n"
           "  --model         IFC model whose GlobalIds the link table names\n"
           "  --link-task     column naming the task (default Task)\n"
           "  --task-key      what that column holds: wbs (default), id, uid or name\n"
           "  --link-element  column naming the element (default GUID)\n"
           "  --element-key   what that column holds: guid (default, needs --model) or id\n"
           "  --ifc-schedule  IFC4 file with IfcTasks, their nesting and their products\n"
           "Exit status: 0 written, 1 unusable input, 2 wrong command line.\n";
}

int runScheduleCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    Options options;
    try
    {
        options = parseOptions(arguments);
        if (options.help)
        {
            out << scheduleUsage();
            return ExitSuccess;
        }
        checkOptions(options);
    }
    catch (const UsageError& error)
    {
        err << "veltra-schedule: " << error.message << "\n" << scheduleUsage();
        return ExitUsage;
    }

    try
    {
        if (options.has("ifc-schedule"))
            runIfcSchedule(options, out, err);
        else
            runPlan(options, out, err);
        return ExitSuccess;
    }
    catch (const ScheduleError& error)
    {
        err << "veltra-schedule: error: " << error.what() << "\n";
        return ExitBadInput;
    }
    catch (const std::exception& error)
    {
        // Anything a library throws on input it cannot take is still the input's fault, not a crash.
        err << "veltra-schedule: error: " << error.what() << "\n";
        return ExitBadInput;
    }
}

} // namespace veltra::schedule
