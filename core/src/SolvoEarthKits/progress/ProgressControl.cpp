#include <SolvoEarthKits/progress/ProgressControl.h>

#include <SolvoEarthKits/progress/NC.h>
#include <SolvoEarthKits/progress/NodeId.h>
#include <SolvoEarthKits/progress/ProgressDates.h>
#include <SolvoEarthKits/progress/TaskListReader.h>
#include <SolvoEarthKits/progress/TaskStyle.h>
#include <SolvoEarthKits/progress/TintPrograms.h>

#include <osg/Timer>

#include <algorithm>
#include <unordered_map>
#include <vector>

using namespace SolvoEarthUtil;

namespace {

constexpr int kPlanDates = 1;
constexpr int kActualDates = 2;

// "拆" (demolish) in the task type marks a demolition task.
const char* const kDemolitionMark = "\xE6\x8B\x86";

void readDates(ProgressControl::ProgressControlGroup& task, const Json::Value& element, int flags)
{
    if (flags & kPlanDates)
    {
        task.dates[0] = normalizeDate(taskText(element, "startP"));
        task.dates[1] = normalizeDate(taskText(element, "finishP"));
    }
    if (flags & kActualDates)
    {
        task.dates[2] = normalizeDate(taskText(element, "startA"));
        task.dates[3] = normalizeDate(taskText(element, "finishA"));
    }
}

float clampAlpha(float alpha)
{
    // NaN falls through both tests and is taken as opaque.
    if (alpha < 0.0f)
        return 0.0f;
    if (alpha >= 0.0f && alpha <= 1.0f)
        return alpha;
    return 1.0f;
}

// A binding entry: the task named by a WBS text exactly as written, and the element ids of its
// geometry.
struct Binding
{
    osg::ref_ptr<ProgressControl::ProgressControlGroup> task;
    std::vector<int> ids;
};

} // namespace

void ProgressControl::TimerCallback::operator()(osg::Node* node, osg::NodeVisitor* nv)
{
    if (callable && !callable())
        return;
    traverse(node, nv);
}

ProgressControl::ProgressControl() : _tintPrograms(new TintPrograms)
{}

ProgressControl::~ProgressControl()
{
    // Whoever else still holds the callback must not reach a destroyed control through it.
    if (timerCallback)
        timerCallback->callable = nullptr;
}

ProgressControl* ProgressControl::create(osg::Node* root, const std::string& taskList, const std::string& binding,
                                         int flags, bool)
{
    if (!root)
        return nullptr;

    osg::ref_ptr<ProgressControl> control = new ProgressControl;
    control->timerCallback = new TimerCallback;
    ProgressControl* self = control.get();
    control->timerCallback->callable = [self] { return self->onFrame(); };
    control->setUpdateCallback(control->timerCallback.get());
    control->addChild(root);

    Json::Value list;
    if (!readTaskList(taskList, list))
        return nullptr;

    // Keyed by the exact WBS text: the binding document names tasks byte for byte.
    std::map<std::string, Binding> bindingTable;
    for (const Json::Value& element : list)
    {
        if (taskFlag(element, "summary"))
            continue;
        osg::ref_ptr<ProgressControlGroup> task = new ProgressControlGroup;
        task->isDemolition = taskText(element, "type").find(kDemolitionMark) != std::string::npos;
        task->wbs = taskText(element, "wbs");
        task->name = taskText(element, "name");
        task->notes = taskText(element, "notes");
        task->milestone = taskFlag(element, "milestone");
        readDates(*task, element, flags);

        // A later task with an equal code replaces the earlier one, under its own code.
        control->tasks.erase(task->wbs);
        control->tasks.emplace(task->wbs, task);
        bindingTable[task->wbs] = Binding{task, {}};
    }

    Json::Value bindingDocument;
    if (!readBinding(binding, bindingDocument))
        return nullptr;
    for (const std::string& name : bindingDocument.getMemberNames())
    {
        auto entry = bindingTable.find(name);
        if (entry != bindingTable.end())
            readBindingIds(bindingDocument[name], entry->second.ids);
    }

    // Element id -> the tasks listing it, each task once, in binding key order; one pass over
    // the geodes then binds them all.
    std::unordered_map<int, std::vector<ProgressControlGroup*>> tasksById;
    for (auto& [wbs, entry] : bindingTable)
    {
        std::vector<int>& ids = entry.ids;
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        for (int id : ids)
            tasksById[id].push_back(entry.task.get());
    }

    NC collector(root);
    root->accept(collector);
    for (const osg::ref_ptr<osg::Geode>& geode : collector.geodes)
    {
        const int id = nodeIdFromName(geode->getName());
        if (id == -1)
            continue;
        auto found = tasksById.find(id);
        if (found == tasksById.end())
            continue;
        for (ProgressControlGroup* task : found->second)
            task->addChild(geode.get());
    }

    for (auto it = control->tasks.begin(); it != control->tasks.end();)
        it = it->second->getNumChildren() == 0 ? control->tasks.erase(it) : std::next(it);

    std::string start;
    std::string end;
    control->getRange(start, end, kPlanDates | kActualDates);
    control->setRange(start, end);
    return control.release();
}

bool ProgressControl::loadTasks(const std::string& taskList, int flags)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    Json::Value list;
    if (!readTaskList(taskList, list))
        return false;

    for (const Json::Value& element : list)
    {
        if (taskFlag(element, "summary"))
            continue;
        auto found = tasks.find(taskText(element, "wbs"));
        if (found == tasks.end())
            continue;
        ProgressControlGroup& task = *found->second;
        task.name = taskText(element, "name");
        task.notes = taskText(element, "notes");
        task.milestone = taskFlag(element, "milestone");
        readDates(task, element, flags);
    }
    return true;
}

void ProgressControl::getRange(std::string& start, std::string& end, int flags)
{
    static const std::string kNoStart = "2099-12-31";
    static const std::string kNoEnd = "2000-01-01";
    start = kNoStart;
    end = kNoEnd;

    auto widen = [&](const std::string& from, const std::string& to) {
        if (to < from)
            return;
        if (!from.empty() && from < start)
            start = from;
        if (!to.empty() && to > end)
            end = to;
    };
    for (const auto& [wbs, task] : tasks)
    {
        if (flags & kPlanDates)
            widen(task->startP(), task->finishP());
        if (flags & kActualDates)
            widen(task->startA(), task->finishA());
    }

    if (start == kNoStart)
        start.clear();
    if (end == kNoEnd)
        end.clear();
}

void ProgressControl::setAllAlpha(float alpha)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    const float clamped = clampAlpha(alpha);
    for (const auto& [wbs, task] : tasks)
        applyAlpha(task.get(), clamped);
}

void ProgressControl::setChildAlpha(const std::string& wbs, float alpha)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    // Codes are unique under the WBS order, so the only task that can equal `wbs` byte for byte
    // is the one the map finds for it.
    auto found = tasks.find(wbs);
    if (found != tasks.end() && found->second->wbs == wbs)
        applyAlpha(found->second.get(), clampAlpha(alpha));
}

void ProgressControl::setClock(Clock clock)
{
    _clock = std::move(clock);
}

void ProgressControl::setShareTintPrograms(bool share)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    _tintPrograms = share ? new TintPrograms : nullptr;
}

double ProgressControl::now() const
{
    return _clock ? _clock() : osg::Timer::instance()->time_s();
}
