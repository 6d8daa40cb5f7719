#pragma once

#include <memory>

class BuildingModel;

namespace veltra::ifc {

/// The step id of an object that, through aggregation (IfcRelAggregates) and spatial containment
/// (IfcRelContainedInSpatialStructure), ends up inside itself; 0 when the structure is a tree or
/// a forest. IFC++ walks this structure recursively and would not come back from such a loop.
int findStructureLoop(const BuildingModel& model);

} // namespace veltra::ifc
