#pragma once

#include "veltra-demo/DemoBuilding.h"

#include <vector>

namespace veltra::demo {

constexpr int kDemoStoreys = 4;

/// The group name of storey `storey` (1-based).
std::string storeyGroup(int storey);

/// Every part of the building. Ids are level * 1000 + kind code * 100 + index ("Column [1203]" is
/// the third column of storey 1), so each is unique and tells a reader where the part sits.
std::vector<DemoPart> demoParts();

/// The schedule over `parts`: each task binds the parts of one group and kind.
std::vector<DemoTask> demoSchedule(const std::vector<DemoPart>& parts);

} // namespace veltra::demo
