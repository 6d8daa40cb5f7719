#pragma once

#include "Schedule.h"

namespace veltra::schedule {

class IfcModelIndex;

/// Reads the IfcTasks of an IFC model (IFC4 work schedules; IFC2X3 files give their tasks without dates) into a
/// schedule in file order, bound to the model's elements.
///
/// - Tasks that nest others (IfcRelNests) are summary rows. Keys are the Identifications when every task has one
///   and they are unique under the WBS order, else outline numbers from the nesting ("1", "1.2", "1.2.3").
/// - Planned dates are the task time's ScheduleStart and ScheduleFinish, or its EarlyStart and EarlyFinish where
///   those are absent; actual dates are ActualStart and ActualFinish.
/// - Notes are the Description and the LongDescription; DEMOLITION, DISMANTLE and REMOVAL tasks are demolition
///   tasks.
/// - IfcRelAssignsToProduct (task to product) and IfcRelAssignsToProcess (products to task) bind elements; a
///   spatial element or an aggregate binds every element it contains or aggregates, at any depth.
/// Throws ScheduleError when the model has no IfcTask; `name` names the file in messages.
Schedule readIfcSchedule(const IfcModelIndex& model, const std::string& name);

} // namespace veltra::schedule
