#pragma once

#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcElements.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace veltra::schedule {

/// An IFC model with its building elements as the IFC reader names their geometry, looked up by GlobalId and by
/// STEP instance number.
class IfcModelIndex
{
public:
    /// Parses `bytes`; throws ScheduleError with the reader's message for anything that is not a readable IFC file.
    IfcModelIndex(std::string bytes, const std::string& name);

    const ifc::IfcDocument& document() const { return _document; }
    /// Every element the IFC reader gives a geometry node, in file order.
    const std::vector<ifc::BuildingElement>& elements() const { return _elements; }

    /// The element id of the element with this GlobalId, or -1 when the model has none.
    int elementIdOfGlobalId(const std::string& globalId) const;
    /// The element id of the element at this STEP instance number, or -1 when it is no listed element.
    int elementIdOfStep(int stepId) const;
    /// Whether some element of the model carries this element id.
    bool hasElementId(int elementId) const;

private:
    ifc::IfcDocument _document;
    std::vector<ifc::BuildingElement> _elements;
    std::map<std::string, int> _byGlobalId;
    std::map<int, int> _byStep;
    std::set<int> _elementIds;
};

} // namespace veltra::schedule
