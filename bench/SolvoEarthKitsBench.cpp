// The progress simulation on real-sized data: a model of hundreds of thousands of parts and a
// schedule of tens of thousands of tasks, each element bound to one task. Binding must stay
// linear in parts + tasks, and a date change linear in the bound parts.
#include <SolvoEarthKits/progress/ProgressControl.h>
#include <SolvoEarthKits/progress/ProgressDates.h>

#include <osg/Geode>

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kPartsPerTask = 10;

struct Schedule
{
    osg::ref_ptr<osg::Group> model;
    std::string tasks;
    std::string binding;
};

// `parts` geodes "Element [id]" in storeys of 100; one task per ten consecutive ids, planned over
// the year 2015 and carried out a few days late.
Schedule makeSchedule(int parts)
{
    Schedule schedule;
    schedule.model = new osg::Group;
    osg::Group* storey = nullptr;
    for (int id = 0; id < parts; ++id)
    {
        if (id % 100 == 0)
        {
            storey = new osg::Group;
            schedule.model->addChild(storey);
        }
        osg::ref_ptr<osg::Geode> part = new osg::Geode;
        part->setName("Element [" + std::to_string(id) + "]");
        storey->addChild(part.get());
    }

    const int taskCount = parts / kPartsPerTask;
    schedule.tasks = "[";
    schedule.binding = "{";
    for (int task = 0; task < taskCount; ++task)
    {
        const int day = task % 330;
        const std::string wbs = std::to_string(1 + task / 100) + "." + std::to_string(1 + task % 100);
        schedule.tasks += std::string(task ? "," : "") + "{\"wbs\":\"" + wbs + "\",\"name\":\"Task " + wbs +
                          "\",\"startP\":\"" + SolvoEarthUtil::addDays("2015-01-01", day) + "\",\"finishP\":\"" +
                          SolvoEarthUtil::addDays("2015-01-01", day + 20) + "\",\"startA\":\"" +
                          SolvoEarthUtil::addDays("2015-01-01", day + 3) + "\",\"finishA\":\"" +
                          SolvoEarthUtil::addDays("2015-01-01", day + 26) + "\"}";
        schedule.binding += std::string(task ? "," : "") + "\"" + wbs + "\":[";
        for (int k = 0; k < kPartsPerTask; ++k)
            schedule.binding += (k ? "," : "") + std::to_string(task * kPartsPerTask + k);
        schedule.binding += "]";
    }
    schedule.tasks += "]";
    schedule.binding += "}";
    return schedule;
}

void BM_create(benchmark::State& state)
{
    const Schedule schedule = makeSchedule(static_cast<int>(state.range(0)));
    for (auto _ : state)
    {
        osg::ref_ptr<ProgressControl> control =
            ProgressControl::create(schedule.model.get(), schedule.tasks, schedule.binding, 3, false);
        benchmark::DoNotOptimize(control.get());
        state.PauseTiming();
        control = nullptr;
        state.ResumeTiming();
    }
    state.counters["parts"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_create)->Arg(200000)->Arg(400000)->Unit(benchmark::kMillisecond)->Iterations(3);

// One date change per iteration, alternating between two dates a month apart so every change
// restyles a different set of tasks. Arguments: parts, display mode, shared tint programs.
void BM_setToday(benchmark::State& state)
{
    const Schedule schedule = makeSchedule(static_cast<int>(state.range(0)));
    osg::ref_ptr<ProgressControl> control =
        ProgressControl::create(schedule.model.get(), schedule.tasks, schedule.binding, 3, false);
    control->setMode(static_cast<int>(state.range(1)));
    control->setShareTintPrograms(state.range(2) != 0);
    const std::string dates[2] = {"2015-05-10", "2015-06-10"};
    int flip = 0;
    for (auto _ : state)
        control->setToday(dates[flip++ % 2]);
    state.counters["parts"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_setToday)
    ->ArgNames({"parts", "mode", "shared"})
    ->Args({200000, 1, 1})
    ->Args({400000, 1, 1})
    ->Args({200000, 2, 1})
    ->Args({400000, 2, 1})
    ->Args({200000, 3, 1})
    ->Args({400000, 3, 1})
    ->Args({200000, 1, 0})
    ->Args({200000, 3, 0})
    ->Args({400000, 1, 0})
    ->Args({400000, 3, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6);

} // namespace
