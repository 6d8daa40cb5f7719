// How a date shows: every task is classified on its plan and actual side, then each task's
// geometry is hidden, shown or tinted by the table of the display mode, and the reports go out.
#include <SolvoEarthKits/progress/ProgressControl.h>

#include <SolvoEarthKits/progress/TaskReport.h>
#include <SolvoEarthKits/progress/TaskStyle.h>
#include <SolvoEarthKits/progress/TintPrograms.h>

#include <deque>
#include <unordered_map>
#include <vector>

using namespace SolvoEarthUtil;

namespace {

using Task = ProgressControl::ProgressControlGroup;

enum class Progress
{
    NotStarted,
    Finished,
    Current
};

constexpr osg::Node::NodeMask kShown = 0xFFFFFFFF;
constexpr osg::Node::NodeMask kHidden = 0;
constexpr size_t kReportLines = 10;

enum Tint
{
    Natural = 0,
    Purple = 1,
    Green = 2,
    Blue = 3
};

// A task is current from its start day through its finish day.
Progress classify(const std::string& start, const std::string& finish, const std::string& today)
{
    if (!finish.empty() && finish < today)
        return Progress::Finished;
    if (!start.empty() && !(today < start))
        return Progress::Current;
    return Progress::NotStarted;
}

bool outOfRange(const std::string& start, const std::string& finish, const std::string& rangeStart,
                const std::string& rangeEnd)
{
    return (!start.empty() && start > rangeEnd) || (!finish.empty() && finish < rangeStart);
}

// The tasks of one side by class. Finished and current keep the schedule order; not-started
// tasks are listed in reverse, as each one went to the front.
struct SideClasses
{
    std::deque<Task*> notStarted;
    std::vector<Task*> finished;
    std::vector<Task*> current;

    void add(Task* task, Progress progress)
    {
        switch (progress)
        {
        case Progress::NotStarted: notStarted.push_front(task); break;
        case Progress::Finished: finished.push_back(task); break;
        case Progress::Current: current.push_back(task); break;
        }
    }

    std::string joinedCurrent() const
    {
        std::string joined;
        for (size_t i = 0; i < current.size(); ++i)
            joined += (i == 0 ? "" : ",") + current[i]->wbs;
        return joined;
    }
};

// Restyles tasks and gathers the report lines of one date.
class DateDisplay
{
public:
    DateDisplay(const std::string& today, TintPrograms* programs) : _today(today), _programs(programs) {}

    void style(Task* task, osg::Node::NodeMask mask, int tint)
    {
        setChildMasks(task, mask);
        applyTint(task, tint, _programs);
    }

    void hide(Task* task) { setChildMasks(task, kHidden); }

    void report(const std::string& line, const Task& task)
    {
        _taskLines.push_back(line);
        reportNotes(task);
    }

    void reportNotes(const Task& task)
    {
        if (!task.notes.empty())
            _notesLines.push_back(notesLine(task));
    }

    // Modes 1 and 2: one side decides everything.
    void showSide(const SideClasses& side, bool plan)
    {
        for (Task* task : side.notStarted)
            style(task, task->isDemolition ? kShown : kHidden, Natural);
        for (Task* task : side.finished)
            style(task, task->isDemolition ? kHidden : kShown, Natural);
        for (Task* task : side.current)
        {
            style(task, task->isDemolition ? kHidden : kShown, Blue);
            report(sideReportLine(*task, plan, _today), *task);
        }
    }

    // Mode 3: the plan class picks the pass, the actual class the row.
    void showPlanAgainstActual(const SideClasses& plan, const std::unordered_map<const Task*, Progress>& actualOf)
    {
        auto actual = [&](const Task* task) {
            auto found = actualOf.find(task);
            return found == actualOf.end() ? Progress::NotStarted : found->second;
        };
        auto fullLine = [&](Task* task) {
            int planElapsed = 0;
            int actualElapsed = 0;
            report(taskReportLine(*task, _today, planElapsed, actualElapsed), *task);
        };

        for (Task* task : plan.notStarted)
        {
            if (actual(task) == Progress::NotStarted)
            {
                style(task, task->isDemolition ? kShown : kHidden, Natural);
                continue;
            }
            style(task, kShown, Green);
            fullLine(task);
        }
        for (Task* task : plan.finished)
        {
            switch (actual(task))
            {
            case Progress::NotStarted:
                if (!task->startA().empty())
                {
                    style(task, kShown, Purple);
                    fullLine(task);
                }
                else
                {
                    style(task, task->isDemolition ? kHidden : kShown, Natural);
                    reportNotes(*task);
                }
                break;
            case Progress::Finished: style(task, task->isDemolition ? kHidden : kShown, Natural); break;
            case Progress::Current:
                style(task, kShown, Purple);
                fullLine(task);
                break;
            }
        }
        for (Task* task : plan.current)
        {
            switch (actual(task))
            {
            case Progress::NotStarted:
                style(task, kShown, Purple);
                fullLine(task);
                break;
            case Progress::Finished:
                style(task, kShown, Green);
                fullLine(task);
                break;
            case Progress::Current: showBothCurrent(task); break;
            }
        }
    }

    std::string todayText() const
    {
        std::string text = "当前日期: " + _today + "\n";
        for (const std::string& line : lastLines(_taskLines))
            text += line;
        return text;
    }

    std::string notesText() const
    {
        std::string text;
        for (const std::string& line : lastLines(_notesLines))
            text += line;
        return text;
    }

private:
    // Behind schedule shows purple, ahead green, on time blue; with a zero counter the tint
    // stays as it was.
    void showBothCurrent(Task* task)
    {
        int planElapsed = 0;
        int actualElapsed = 0;
        report(taskReportLine(*task, _today, planElapsed, actualElapsed), *task);
        setChildMasks(task, kShown);
        if (planElapsed == 0 || actualElapsed == 0)
            return;
        const int tint = planElapsed < actualElapsed ? Purple : planElapsed == actualElapsed ? Blue : Green;
        applyTint(task, tint, _programs);
    }

    static std::vector<std::string> lastLines(const std::vector<std::string>& lines)
    {
        const size_t skip = lines.size() > kReportLines ? lines.size() - kReportLines : 0;
        return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(skip), lines.end());
    }

    const std::string& _today;
    TintPrograms* _programs;
    std::vector<std::string> _taskLines;
    std::vector<std::string> _notesLines;
};

} // namespace

void ProgressControl::setToday(const std::string& date)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    today = date;
    const int currentMode = mode;

    SideClasses plan;
    SideClasses actual;
    std::unordered_map<const Task*, Progress> actualOf;
    actualOf.reserve(tasks.size());
    DateDisplay display(today, _tintPrograms.get());

    for (const auto& [wbs, task] : tasks)
    {
        const bool planOut = outOfRange(task->startP(), task->finishP(), rangeStart, rangeEnd);
        const bool actualOut = outOfRange(task->startA(), task->finishA(), rangeStart, rangeEnd);
        if ((currentMode == 1 && planOut) || (currentMode == 2 && actualOut) ||
            (currentMode == 3 && planOut && actualOut))
        {
            display.hide(task.get());
            continue;
        }
        if (currentMode & 1)
            plan.add(task.get(), classify(task->startP(), task->finishP(), today));
        if (currentMode & 2)
        {
            const Progress progress = classify(task->startA(), task->finishA(), today);
            actual.add(task.get(), progress);
            actualOf[task.get()] = progress;
        }
    }

    if (currentMode == 1)
        display.showSide(plan, true);
    else if (currentMode == 2)
        display.showSide(actual, false);
    else if (currentMode == 3)
        display.showPlanAgainstActual(plan, actualOf);

    if (onTodayText)
        onTodayText(display.todayText());
    if (onNotesText)
        onNotesText(display.notesText());
    if (onDateChanged)
        onDateChanged(today, plan.joinedCurrent(), actual.joinedCurrent());
}
