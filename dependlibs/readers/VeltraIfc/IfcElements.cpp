#include <VeltraIfc/IfcElements.h>

#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcText.h>

#include <SolvoEarthKits/progress/NodeId.h>

#include <ifcpp/IFC4/include/IfcElement.h>
#include <ifcpp/IFC4/include/IfcFeatureElementSubtraction.h>
#include <ifcpp/IFC4/include/IfcGloballyUniqueId.h>
#include <ifcpp/IFC4/include/IfcLabel.h>
#include <ifcpp/model/BuildingModel.h>

#include <map>

namespace veltra::ifc {

namespace {

bool isViewed(const std::shared_ptr<BuildingEntity>& entity)
{
    return std::dynamic_pointer_cast<::IfcElement>(entity) &&
           !std::dynamic_pointer_cast<::IfcFeatureElementSubtraction>(entity);
}

} // namespace

std::vector<BuildingElement> listElements(const IfcDocument& document)
{
    std::vector<BuildingElement> elements;
    std::map<int, int> nameIdUses;
    for (const auto& [stepId, entity] : document.model()->getMapIfcEntities())
    {
        if (!isViewed(entity))
            continue;
        const auto element = std::dynamic_pointer_cast<::IfcElement>(entity);
        BuildingElement record;
        record.stepId = stepId;
        record.globalId = textOf(element->m_GlobalId);
        record.ifcClass = element->className();
        record.name = textOf(element->m_Name);
        const int nameId = SolvoEarthUtil::nodeIdFromName(record.name);
        if (nameId > 0)
            ++nameIdUses[nameId];
        record.elementId = nameId;
        elements.push_back(std::move(record));
    }
    for (BuildingElement& record : elements)
    {
        if (record.elementId > 0 && nameIdUses[record.elementId] == 1)
        {
            record.nodeName = record.name;
            continue;
        }
        record.elementId = record.stepId;
        const std::string& label = record.name.empty() ? record.ifcClass : record.name;
        record.nodeName = label + " [" + std::to_string(record.stepId) + "]";
    }
    return elements;
}

} // namespace veltra::ifc
