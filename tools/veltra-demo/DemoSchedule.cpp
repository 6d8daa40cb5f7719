#include "veltra-demo/DemoDates.h"
#include "veltra-demo/DemoLayout.h"

namespace veltra::demo {

namespace {

// Day 0 of the schedule.
constexpr int kStartYear = 2024;
constexpr int kStartMonth = 3;
constexpr int kStartDay = 4;

constexpr int kFrameCycle = 12; // days per storey of frame: columns, then the slab above them

std::string day(int offset)
{
    return civilDateAfter(kStartYear, kStartMonth, kStartDay, offset);
}

// The ids of the parts of `group` whose kind starts with `kindPrefix` ("" takes the whole group).
std::vector<int> idsOf(const std::vector<DemoPart>& parts, const std::string& group, const std::string& kindPrefix)
{
    std::vector<int> ids;
    for (const DemoPart& part : parts)
        if (part.group == group && part.kind.rfind(kindPrefix, 0) == 0)
            ids.push_back(part.id);
    return ids;
}

struct TaskPlan
{
    const char* wbs;
    std::string name;
    int start;        // planned, days after day 0
    int finish;
    int startSlip;    // actual minus planned, in days; negative is early
    int finishSlip;
    const char* notes;
};

DemoTask makeTask(const TaskPlan& plan, std::vector<int> ids)
{
    DemoTask task;
    task.wbs = plan.wbs;
    task.name = plan.name;
    task.notes = plan.notes;
    task.type = "construction";
    task.startP = day(plan.start);
    task.finishP = day(plan.finish);
    task.startA = day(plan.start + plan.startSlip);
    task.finishA = day(plan.finish + plan.finishSlip);
    task.ids = std::move(ids);
    return task;
}

} // namespace

std::vector<DemoTask> demoSchedule(const std::vector<DemoPart>& parts)
{
    std::vector<DemoTask> tasks;
    tasks.push_back(makeTask({"1.1", "Foundations", 0, 13, 0, 3, "Ground water in the pit; pumping added three days"},
                             idsOf(parts, "Foundations", "")));

    // Frame slips grow early on, are made up in the middle storeys and lost again at the top;
    // walls follow their storey's slab.
    const int frameSlip[kDemoStoreys][4] = {{3, 2, 2, 1}, {1, 0, 0, -1}, {-1, -2, -2, -2}, {-2, -1, -1, 4}};
    const int wallSlip[kDemoStoreys][2] = {{2, 2}, {0, 0}, {-1, -3}, {4, 6}};
    const char* const frameNotes[kDemoStoreys] = {"Formwork delivery late", "", "Second crew on site",
                                                  "Concrete pump breakdown"};
    const char* const columnCodes[kDemoStoreys] = {"2.1.1", "2.2.1", "2.3.1", "2.4.1"};
    const char* const slabCodes[kDemoStoreys] = {"2.1.2", "2.2.2", "2.3.2", "2.4.2"};
    const char* const wallCodes[kDemoStoreys] = {"3.1", "3.2", "3.3", "3.4"};
    for (int s = 0; s < kDemoStoreys; ++s)
    {
        const std::string group = storeyGroup(s + 1);
        const int cycle = 14 + s * kFrameCycle;
        const int* slip = frameSlip[s];
        tasks.push_back(makeTask({columnCodes[s], "Columns, storey " + std::to_string(s + 1), cycle, cycle + 4, slip[0],
                                  slip[1], ""},
                                 idsOf(parts, group, "Column")));
        tasks.push_back(makeTask({slabCodes[s], "Slab, storey " + std::to_string(s + 1), cycle + 5, cycle + 11, slip[2],
                                  slip[3], frameNotes[s]},
                                 idsOf(parts, group, "Slab")));
        tasks.push_back(makeTask({wallCodes[s], "Walls, storey " + std::to_string(s + 1), cycle + 12, cycle + 21,
                                  wallSlip[s][0], wallSlip[s][1], ""},
                                 idsOf(parts, group, "Wall")));
    }

    const int roof = 14 + kDemoStoreys * kFrameCycle;
    tasks.push_back(makeTask({"4.1", "Roof plant room", roof, roof + 6, 4, 3, ""}, idsOf(parts, "Roof", "Plant room")));

    DemoTask toppingOut = makeTask({"4.2", "Topping out", roof + 7, roof + 7, 3, 3, "Parapets closed; topping-out ceremony"},
                                   idsOf(parts, "Roof", "Parapet"));
    toppingOut.type = "milestone";
    toppingOut.milestone = true;
    tasks.push_back(toppingOut);

    DemoTask dismantling = makeTask({"5.1", "Dismantle tower crane and scaffold", roof + 14, roof + 20, 2, 1,
                                     "Crane collected by the hire company"},
                                    idsOf(parts, "Temporary works", ""));
    dismantling.type = "\xE6\x8B\x86\xE9\x99\xA4"; // 拆除, "demolition": the simulation takes these parts away
    tasks.push_back(dismantling);
    return tasks;
}

} // namespace veltra::demo
