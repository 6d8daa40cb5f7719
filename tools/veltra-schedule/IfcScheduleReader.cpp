#include "IfcScheduleReader.h"

#include "IfcModelIndex.h"
#include "ScheduleDates.h"
#include "ScheduleError.h"
#include "TaskKeys.h"

#include <VeltraIfc/IfcText.h>

#include <ifcpp/IFC4/include/IfcBoolean.h>
#include <ifcpp/IFC4/include/IfcDateTime.h>
#include <ifcpp/IFC4/include/IfcGloballyUniqueId.h>
#include <ifcpp/IFC4/include/IfcIdentifier.h>
#include <ifcpp/IFC4/include/IfcLabel.h>
#include <ifcpp/IFC4/include/IfcProcessSelect.h>
#include <ifcpp/IFC4/include/IfcProductSelect.h>
#include <ifcpp/IFC4/include/IfcSpatialElement.h>
#include <ifcpp/IFC4/include/IfcRelAggregates.h>
#include <ifcpp/IFC4/include/IfcRelAssignsToProcess.h>
#include <ifcpp/IFC4/include/IfcRelAssignsToProduct.h>
#include <ifcpp/IFC4/include/IfcRelContainedInSpatialStructure.h>
#include <ifcpp/IFC4/include/IfcRelNests.h>
#include <ifcpp/IFC4/include/IfcTask.h>
#include <ifcpp/IFC4/include/IfcTaskTime.h>
#include <ifcpp/IFC4/include/IfcTaskTypeEnum.h>
#include <ifcpp/IFC4/include/IfcText.h>
#include <ifcpp/model/BuildingModel.h>

#include <algorithm>
#include <map>
#include <set>

namespace veltra::schedule {

namespace {

using EntityPtr = std::shared_ptr<BuildingEntity>;

std::string dateText(const std::shared_ptr<IfcDateTime>& value)
{
    return value ? ifc::toUtf8(value->m_value) : std::string();
}

bool isDemolition(const std::shared_ptr<IfcTaskTypeEnum>& type)
{
    return type && (type->m_enum == IfcTaskTypeEnum::ENUM_DEMOLITION ||
                    type->m_enum == IfcTaskTypeEnum::ENUM_DISMANTLE ||
                    type->m_enum == IfcTaskTypeEnum::ENUM_REMOVAL);
}

std::string notesOf(const IfcTask& task)
{
    const std::string description = ifc::textOf(task.m_Description);
    const std::string longDescription = ifc::textOf(task.m_LongDescription);
    if (description.empty() || description == longDescription)
        return longDescription;
    return longDescription.empty() ? description : description + "\n" + longDescription;
}

// The structure of the model that decides which elements a product stands for: what each spatial element contains
// and what each object aggregates.
class ProductParts
{
public:
    ProductParts(const BuildingModel& model, const IfcModelIndex& index) : _index(index)
    {
        for (const auto& [stepId, entity] : model.getMapIfcEntities())
        {
            if (const auto contained = std::dynamic_pointer_cast<IfcRelContainedInSpatialStructure>(entity))
            {
                if (contained->m_RelatingStructure)
                    for (const auto& product : contained->m_RelatedElements)
                        add(contained->m_RelatingStructure.get(), product);
            }
            else if (const auto aggregates = std::dynamic_pointer_cast<IfcRelAggregates>(entity))
            {
                if (aggregates->m_RelatingObject)
                    for (const auto& part : aggregates->m_RelatedObjects)
                        add(aggregates->m_RelatingObject.get(), part);
            }
        }
    }

    /// The element ids `product` stands for: its own when it is a listed element, and those of everything it
    /// contains or aggregates. Each object is visited once, so cyclic relations end.
    std::vector<int> elementIds(const EntityPtr& product) const
    {
        std::vector<int> ids;
        std::set<const BuildingEntity*> visited;
        collect(product, ids, visited);
        return ids;
    }

private:
    void add(const BuildingEntity* whole, const EntityPtr& part)
    {
        if (part)
            _parts[whole].push_back(part);
    }

    // Depth-first with a stack of its own: a hostile file may nest parts deeper than the call stack goes.
    void collect(const EntityPtr& product, std::vector<int>& ids, std::set<const BuildingEntity*>& visited) const
    {
        std::vector<EntityPtr> pending{product};
        while (!pending.empty())
        {
            const EntityPtr object = pending.back();
            pending.pop_back();
            if (!object || !visited.insert(object.get()).second)
                continue;
            const int id = _index.elementIdOfStep(object->m_entity_id);
            if (id >= 0)
                ids.push_back(id);
            const auto parts = _parts.find(object.get());
            if (parts != _parts.end())
                pending.insert(pending.end(), parts->second.rbegin(), parts->second.rend());
        }
    }

    const IfcModelIndex& _index;
    std::map<const BuildingEntity*, std::vector<EntityPtr>> _parts;
};

class TaskTree
{
public:
    explicit TaskTree(const BuildingModel& model)
    {
        for (const auto& [stepId, entity] : model.getMapIfcEntities())
            if (const auto task = std::dynamic_pointer_cast<IfcTask>(entity))
            {
                _index.emplace(task.get(), _tasks.size());
                _tasks.push_back(task);
            }
        _children.resize(_tasks.size());
        _parent.assign(_tasks.size(), NoParent);
        for (const auto& [stepId, entity] : model.getMapIfcEntities())
            if (const auto nests = std::dynamic_pointer_cast<IfcRelNests>(entity))
                addNesting(*nests);
    }

    const std::vector<std::shared_ptr<IfcTask>>& tasks() const { return _tasks; }
    bool hasChildren(std::size_t task) const { return !_children[task].empty(); }

    /// The index of `entity` among the tasks, or NoTask.
    std::size_t indexOf(const BuildingObject* entity) const
    {
        const auto found = _index.find(dynamic_cast<const IfcTask*>(entity));
        return found == _index.end() ? NoTask : found->second;
    }

    /// Outline numbers: top-level tasks in file order, nested ones in the order their nesting lists them.
    std::vector<std::string> outlineNumbers() const
    {
        std::vector<std::string> numbers(_tasks.size());
        int top = 0;
        for (std::size_t i = 0; i < _tasks.size(); ++i)
            if (_parent[i] == NoParent)
                number(i, std::to_string(++top), numbers);
        // A nesting cycle, or nesting deeper than MaxOutlineDepth, leaves tasks unreached from any top-level one;
        // they are numbered as top-level tasks.
        for (std::size_t i = 0; i < _tasks.size(); ++i)
            if (numbers[i].empty())
                number(i, std::to_string(++top), numbers);
        return numbers;
    }

    static constexpr std::size_t NoTask = static_cast<std::size_t>(-1);

private:
    static constexpr std::size_t NoParent = static_cast<std::size_t>(-1);

    void addNesting(const IfcRelNests& nests)
    {
        const std::size_t parent = indexOf(nests.m_RelatingObject.get());
        if (parent == NoTask)
            return;
        for (const auto& object : nests.m_RelatedObjects)
        {
            const std::size_t child = indexOf(object.get());
            // A task nested twice keeps its first parent, so the outline stays a tree.
            if (child == NoTask || child == parent || _parent[child] != NoParent)
                continue;
            _parent[child] = parent;
            _children[parent].push_back(child);
        }
    }

    // Depth-first with a stack of its own, like ProductParts::collect. Tasks nested deeper than MaxOutlineDepth
    // are left for the caller to number as top-level tasks: outline numbers grow with the depth, and a chain of
    // thousands of nested tasks would otherwise take memory by the square of its length.
    void number(std::size_t top, const std::string& outline, std::vector<std::string>& numbers) const
    {
        std::vector<std::pair<std::size_t, std::string>> pending{{top, outline}};
        while (!pending.empty())
        {
            auto [task, number] = std::move(pending.back());
            pending.pop_back();
            if (!numbers[task].empty())
                continue;
            numbers[task] = number;
            if (std::count(number.begin(), number.end(), '.') + 1 >= MaxOutlineDepth)
                continue;
            const std::vector<std::size_t>& children = _children[task];
            for (std::size_t i = children.size(); i-- > 0;)
                pending.emplace_back(children[i], number + "." + std::to_string(i + 1));
        }
    }

    static constexpr long MaxOutlineDepth = 64;

    std::vector<std::shared_ptr<IfcTask>> _tasks;
    std::map<const IfcTask*, std::size_t> _index;
    std::vector<std::vector<std::size_t>> _children;
    std::vector<std::size_t> _parent;
};

class TaskRows
{
public:
    explicit TaskRows(Schedule& schedule) : _schedule(schedule) {}

    ScheduleTask read(const IfcTask& task)
    {
        ScheduleTask row;
        row.id = std::to_string(task.m_entity_id);
        row.uid = ifc::textOf(task.m_GlobalId);
        row.wbs = trimmed(ifc::textOf(task.m_Identification));
        row.name = ifc::textOf(task.m_Name);
        row.notes = notesOf(task);
        row.milestone = task.m_IsMilestone && task.m_IsMilestone->m_value;
        if (isDemolition(task.m_PredefinedType))
            row.type = "拆除";
        const std::shared_ptr<IfcTaskTime>& time = task.m_TaskTime;
        if (time)
        {
            row.startP = date(row, "ScheduleStart", time->m_ScheduleStart ? time->m_ScheduleStart : time->m_EarlyStart);
            row.finishP =
                date(row, "ScheduleFinish", time->m_ScheduleFinish ? time->m_ScheduleFinish : time->m_EarlyFinish);
            row.startA = date(row, "ActualStart", time->m_ActualStart, false);
            row.finishA = date(row, "ActualFinish", time->m_ActualFinish, false);
        }
        else
        {
            _schedule.missingDates += 2;
            _schedule.warnings.push_back(label(row) + ": no task time; its dates are left out");
        }
        return row;
    }

private:
    static std::string label(const ScheduleTask& row) { return "task #" + row.id + " \"" + row.name + "\""; }

    std::string date(const ScheduleTask& row, const char* attribute, const std::shared_ptr<IfcDateTime>& value,
                     bool expected = true)
    {
        const std::string text = dateText(value);
        const std::string date = calendarDateOf(text);
        if (date.empty() && (expected || !text.empty()))
        {
            ++_schedule.missingDates;
            _schedule.warnings.push_back(label(row) + ": " + attribute + " " +
                                         (text.empty() ? "is missing" : "\"" + text + "\" is not a date") +
                                         "; left out");
        }
        return date;
    }

    Schedule& _schedule;
};

void bindAssignments(const BuildingModel& model, const TaskTree& tree, const ProductParts& parts,
                     Schedule& schedule)
{
    auto bindProduct = [&](std::size_t task, const EntityPtr& product) {
        const std::vector<int> ids = parts.elementIds(product);
        if (ids.empty() && product)
            schedule.warnings.push_back("task \"" + schedule.tasks[task].name + "\": #" +
                                        std::to_string(product->m_entity_id) + " (" + product->className() +
                                        ") has no element with geometry; nothing bound");
        for (int id : ids)
            schedule.bind(task, id);
    };
    for (const auto& [stepId, entity] : model.getMapIfcEntities())
    {
        if (const auto toProduct = std::dynamic_pointer_cast<IfcRelAssignsToProduct>(entity))
        {
            const auto product = std::dynamic_pointer_cast<BuildingEntity>(toProduct->m_RelatingProduct);
            for (const auto& object : toProduct->m_RelatedObjects)
            {
                const std::size_t task = tree.indexOf(object.get());
                if (task != TaskTree::NoTask)
                    bindProduct(task, product);
            }
        }
        else if (const auto toProcess = std::dynamic_pointer_cast<IfcRelAssignsToProcess>(entity))
        {
            const std::size_t task =
                tree.indexOf(dynamic_cast<const BuildingObject*>(toProcess->m_RelatingProcess.get()));
            if (task == TaskTree::NoTask)
                continue;
            for (const auto& object : toProcess->m_RelatedObjects)
                bindProduct(task, object);
        }
    }
}

} // namespace

Schedule readIfcSchedule(const IfcModelIndex& index, const std::string& name)
{
    const BuildingModel& model = *index.document().model();
    const TaskTree tree(model);
    if (tree.tasks().empty())
        throw ScheduleError(name + ": the model has no IfcTask (no work schedule to read)");

    Schedule schedule;
    TaskRows rows(schedule);
    const std::vector<std::string> outline = tree.outlineNumbers();
    for (std::size_t i = 0; i < tree.tasks().size(); ++i)
    {
        ScheduleTask row = rows.read(*tree.tasks()[i]);
        row.outlineNumber = outline[i];
        row.summary = tree.hasChildren(i);
        schedule.tasks.push_back(std::move(row));
    }
    assignKeys(schedule, {{"Identification", [](const ScheduleTask& task) { return task.wbs; }},
                          {"nesting outline", [](const ScheduleTask& task) { return task.outlineNumber; }}});
    bindAssignments(model, tree, ProductParts(model, index), schedule);
    return schedule;
}

} // namespace veltra::schedule
