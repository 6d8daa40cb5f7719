#include "ScheduleFiles.h"

#include "SharedData.h"

#include <IfcModelIndex.h>
#include <IfcScheduleReader.h>
#include <InputFile.h>
#include <ScheduleError.h>
#include <ScheduleWriter.h>

#include <gtest/gtest.h>

namespace {

using namespace veltra::schedule;
using Binding = std::map<std::string, std::vector<int>>;

Binding bindingOf(const Schedule& schedule)
{
    Binding binding;
    for (const ScheduleTask& task : schedule.tasks)
        if (!task.elements.empty())
            binding[task.key] = task.elements;
    return binding;
}

TEST(IfcSchedule, TasksNestingAndAssignments)
{
    const IfcModelIndex model(veltra::test::smallIfc(true), "small.ifc");
    const Schedule schedule = readIfcSchedule(model, "small.ifc");
    EXPECT_EQ(schedule.keySource, "Identification");
    ASSERT_EQ(schedule.tasks.size(), 5u);

    const ScheduleTask& structure = schedule.tasks[0];
    const ScheduleTask& walls = schedule.tasks[1];
    const ScheduleTask& handover = schedule.tasks[3];
    const ScheduleTask& removal = schedule.tasks[4];
    EXPECT_TRUE(structure.summary);
    EXPECT_FALSE(walls.summary);
    // EarlyStart and EarlyFinish stand in for the absent schedule dates.
    EXPECT_EQ(walls.startP + " " + walls.finishP + " " + walls.startA + " " + walls.finishA,
              "2024-03-01 2024-03-03 2024-03-02 2024-03-04");
    EXPECT_EQ(walls.notes, "Outer walls\nBrick, two layers");
    EXPECT_EQ(walls.outlineNumber, "1.1");
    EXPECT_TRUE(handover.milestone);
    EXPECT_EQ(removal.type, "拆除");
    EXPECT_TRUE(removal.elements == std::vector<int>{13});

    // The storey stands for the three elements it contains, not for the column outside it.
    EXPECT_EQ(bindingOf(schedule), (Binding{{"1", {138584, 11, 12}}, {"1.1", {138584, 11}}, {"1.2", {12}},
                                           {"3", {13}}}));
}

TEST(IfcSchedule, PlaysOnTheReadersNodes)
{
    const std::string ifc = veltra::test::smallIfc(true);
    const Schedule schedule = readIfcSchedule(IfcModelIndex(ifc, "small.ifc"), "small.ifc");
    veltra::test::PlayedModel played = veltra::test::playOn(ifc, taskListJson(schedule), bindingJson(schedule));
    ASSERT_TRUE(played.control);
    EXPECT_EQ(played.control->getTasks().size(), 3u); // neither the summary row nor the unbound milestone

    const std::tuple<const char*, int, std::vector<int>> cases[] = {
        {"2024-02-28", 1, {13}},                 // only the column, standing until its removal
        {"2024-03-02", 1, {11, 13, 138584}},     // walls under way
        {"2024-03-05", 1, {11, 12, 13, 138584}}, // the floor too
        {"2024-03-08", 1, {11, 12, 138584}},     // the column removed
        {"2024-03-01", 2, {13}},                 // the walls actually began a day late
        {"2024-03-03", 2, {11, 13, 138584}},
    };
    for (const auto& [date, mode, shown] : cases)
        EXPECT_EQ(played.shownOn(date, mode), shown) << date << " mode " << mode;
}

TEST(IfcSchedule, ModelsWithoutTasksAreRejected)
{
    const IfcModelIndex model(veltra::test::smallIfc(false), "small.ifc");
    EXPECT_THROW(readIfcSchedule(model, "small.ifc"), ScheduleError);
}

TEST(IfcSchedule, SharedWorkScheduleExample)
{
    VELTRA_SHARED_DATA_OR_SKIP(path, "schedule/construction_scheduling_task_IFC4.ifc");
    const std::string ifc = readInputFile(path);
    const Schedule schedule = readIfcSchedule(IfcModelIndex(ifc, path), path);

    // Its Identifications repeat ("IfcWallStandardCase" reads as 0 like every other name), so the nesting numbers
    // the tasks.
    EXPECT_EQ(schedule.keySource, "nesting outline");
    std::vector<std::string> rows;
    for (const ScheduleTask& task : schedule.tasks)
        rows.push_back(task.key + " " + task.name + (task.summary ? " (summary) " : " ") + task.startP + ".." +
                       task.finishP);
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "1 Ground Level (summary) 2010-09-20..2010-09-24",
                        "1.1 Slab (Standard) (summary) 2010-09-20..2010-09-20",
                        "1.1.1 Slab #1 2010-09-20..2010-09-20",
                        "1.2 Wall (Standard) (summary) 2010-09-21..2010-09-24",
                        "1.2.1 Wall #1 2010-09-21..2010-09-21",
                        "1.2.2 Wall #2 2010-09-22..2010-09-22",
                        "1.2.3 Wall #3 2010-09-23..2010-09-23",
                        "1.2.4 Wall #4 2010-09-24..2010-09-24",
                    }));
    // Elements without an id in their names carry their STEP numbers: slab #292, walls #356 #385 #407 #429.
    EXPECT_EQ(bindingOf(schedule), (Binding{{"1", {292, 356, 385, 407, 429}},
                                           {"1.1.1", {292}},
                                           {"1.2.1", {356}},
                                           {"1.2.2", {385}},
                                           {"1.2.3", {407}},
                                           {"1.2.4", {429}}}));

    veltra::test::PlayedModel played = veltra::test::playOn(ifc, taskListJson(schedule), bindingJson(schedule));
    ASSERT_TRUE(played.control);
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"2010-09-19", {}},
        {"2010-09-20", {292}},
        {"2010-09-22", {292, 356, 385}},
        {"2010-09-25", {292, 356, 385, 407, 429}},
    };
    for (const auto& [date, shown] : cases)
        EXPECT_EQ(played.shownOn(date), shown) << date;
}

} // namespace
