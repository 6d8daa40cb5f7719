#pragma once

#include <VeltraIfc/VeltraIfcExport.h>

#include <string>
#include <vector>

namespace veltra::ifc {

class IfcDocument;

/// A building element of an IFC file as the viewer and the schedule tools know it.
struct BuildingElement
{
    int stepId = 0;          ///< the file's own instance number (#123)
    std::string globalId;    ///< the 22-character IfcGloballyUniqueId
    std::string ifcClass;    ///< "IfcWallStandardCase", ...
    std::string name;        ///< the element's Name, UTF-8, "" when it has none
    int elementId = -1;      ///< the id the progress simulation and the selection read
    std::string nodeName;    ///< the name of its geometry node, which carries elementId
};

/// Every IfcElement of the document except openings and other subtraction features, in file
/// order. Element ids: a Name that already carries a positive id by the viewer's name rule
/// ("Basic Wall:Interior:138584", "Door [12]") keeps it when no other element's Name carries the
/// same id, and the node is named exactly as the element; any other element gets its STEP
/// instance number, written into the node name as "<Name> [<number>]" ("<class> [<number>]"
/// when it has no Name).
VELTRAIFC_EXPORT std::vector<BuildingElement> listElements(const IfcDocument& document);

} // namespace veltra::ifc
