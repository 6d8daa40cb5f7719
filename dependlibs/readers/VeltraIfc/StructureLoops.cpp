#include <VeltraIfc/StructureLoops.h>

#include <ifcpp/IFC4/include/IfcObjectDefinition.h>
#include <ifcpp/IFC4/include/IfcProduct.h>
#include <ifcpp/IFC4/include/IfcRelAggregates.h>
#include <ifcpp/IFC4/include/IfcRelContainedInSpatialStructure.h>
#include <ifcpp/IFC4/include/IfcSpatialElement.h>
#include <ifcpp/model/BuildingModel.h>

#include <unordered_map>
#include <utility>
#include <vector>

namespace veltra::ifc {

namespace {

std::vector<const IfcObjectDefinition*> partsOf(const IfcObjectDefinition& whole)
{
    std::vector<const IfcObjectDefinition*> parts;
    for (const auto& weakRelation : whole.m_IsDecomposedBy_inverse)
    {
        if (const auto relation = weakRelation.lock())
        {
            for (const auto& part : relation->m_RelatedObjects)
                if (part)
                    parts.push_back(part.get());
        }
    }
    if (const auto* spatial = dynamic_cast<const IfcSpatialElement*>(&whole))
    {
        for (const auto& weakRelation : spatial->m_ContainsElements_inverse)
        {
            if (const auto relation = weakRelation.lock())
            {
                for (const auto& element : relation->m_RelatedElements)
                    if (element)
                        parts.push_back(element.get());
            }
        }
    }
    return parts;
}

} // namespace

int findStructureLoop(const BuildingModel& model)
{
    enum class Mark
    {
        Open,
        Done
    };
    std::unordered_map<const IfcObjectDefinition*, Mark> marks;
    // Depth-first with an explicit stack: a broken file may nest deeper than the call stack allows.
    using Frame = std::pair<const IfcObjectDefinition*, std::vector<const IfcObjectDefinition*>>;
    for (const auto& [stepId, entity] : model.getMapIfcEntities())
    {
        const auto* root = dynamic_cast<const IfcObjectDefinition*>(entity.get());
        if (!root || marks.count(root))
            continue;
        std::vector<Frame> stack;
        marks[root] = Mark::Open;
        stack.emplace_back(root, partsOf(*root));
        while (!stack.empty())
        {
            auto& [object, pending] = stack.back();
            if (pending.empty())
            {
                marks[object] = Mark::Done;
                stack.pop_back();
                continue;
            }
            const IfcObjectDefinition* next = pending.back();
            pending.pop_back();
            const auto seen = marks.find(next);
            if (seen != marks.end())
            {
                if (seen->second == Mark::Open)
                    return next->m_entity_id;
                continue;
            }
            marks[next] = Mark::Open;
            stack.emplace_back(next, partsOf(*next));
        }
    }
    return 0;
}

} // namespace veltra::ifc
