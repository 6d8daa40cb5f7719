// Damaged and hostile inputs: every reader either reads them or says why not, and never crashes, hangs or loses
// the tasks it can read. Run under ASan and UBSan with the rest of the unit tests.
#include "ScheduleFiles.h"

#include <CsvTable.h>
#include <IfcModelIndex.h>
#include <IfcScheduleReader.h>
#include <LinkBinder.h>
#include <MsProjectReader.h>
#include <ScheduleError.h>
#include <ScheduleWriter.h>

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace veltra::schedule;

// Flips, deletes, duplicates and cuts bytes of `text`, with special bytes of the formats more likely than others.
std::string mutated(const std::string& text, std::mt19937& random)
{
    static const std::string special = "<>/\"';,\t\n\r#$()=.&\xEF\xBB\xBF\x00\xFF";
    std::string result = text;
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int edit = 0; edit < edits && !result.empty(); ++edit)
    {
        const std::size_t at = random() % result.size();
        switch (random() % 5)
        {
        case 0: result[at] = special[random() % special.size()]; break;
        case 1: result.erase(at, 1 + random() % 16); break;
        case 2: result.insert(at, result.substr(at, random() % 64)); break;
        case 3: result.resize(at); break;
        default: result[at] = static_cast<char>(random()); break;
        }
    }
    return result;
}

template <typename Read>
void expectReadOrRefused(const std::string& text, Read read)
{
    try
    {
        read(text);
    }
    catch (const ScheduleError& error)
    {
        EXPECT_GT(std::string(error.what()).size(), 0u);
    }
}

TEST(ScheduleFuzz, DamagedProjectDocuments)
{
    std::mt19937 random(20240301);
    const std::string plan = veltra::test::msProjectXml("1.02");
    for (int round = 0; round < 3000; ++round)
        expectReadOrRefused(mutated(plan, random), [](const std::string& text) {
            const Schedule schedule = readMsProject(text, "plan.xml");
            EXPECT_FALSE(schedule.tasks.empty());
            taskListJson(schedule);
        });
}

TEST(ScheduleFuzz, DamagedLinkTables)
{
    std::mt19937 random(7);
    const IfcModelIndex model(veltra::test::smallIfc(false), "small.ifc");
    const std::string links = "Task;GUID;Element\n1.1;0VeltraWall00000000010;138584\n\"1.02\";\"0VeltraSlab0000"
                              "0000012\";12\n1.2;x;\"7\"\"7\"\n";
    for (int round = 0; round < 3000; ++round)
        expectReadOrRefused(mutated(links, random), [&model](const std::string& text) {
            Schedule schedule = readMsProject(veltra::test::msProjectXml("1.02"), "plan.xml");
            const CsvTable table = parseCsv(text, "links.csv");
            for (const char* key : {"guid", "id"})
            {
                const LinkReport report =
                    bindLinks(schedule, table, {"Task", "wbs", key == std::string("id") ? "Element" : "GUID", key},
                              &model, "links.csv");
                EXPECT_EQ(report.rowsRead, static_cast<int>(table.records.size()));
            }
            bindingJson(schedule);
        });
}

TEST(ScheduleFuzz, IfcSchedulesWithMissingPieces)
{
    // Each line of the schedule left out in turn: dangling references, tasks without times, nestings without
    // parents.
    const std::string full = veltra::test::smallIfc(true);
    std::size_t start = full.find("#20=");
    int variants = 0;
    while (start != std::string::npos && full.compare(start, 6, "ENDSEC") != 0)
    {
        const std::size_t end = full.find('\n', start) + 1;
        const std::string text = full.substr(0, start) + full.substr(end);
        expectReadOrRefused(text, [](const std::string& ifc) {
            const Schedule schedule = readIfcSchedule(IfcModelIndex(ifc, "small.ifc"), "small.ifc");
            EXPECT_GE(schedule.tasks.size(), 4u);
        });
        start = end;
        ++variants;
    }
    EXPECT_EQ(variants, 15);
}

TEST(ScheduleFuzz, HostileNesting)
{
    std::string deepXml = "<Project xmlns=\"http://schemas.microsoft.com/project\">";
    for (int i = 0; i < 200000; ++i)
        deepXml += "<a>";
    EXPECT_THROW(readMsProject(deepXml, "deep.xml"), ScheduleError);

    // A chain of 3000 tasks each nesting the next, and a nesting cycle: all tasks kept, keys unique, no deep
    // recursion.
    std::string ifc = veltra::test::smallIfc(false);
    std::string tasks;
    const int chain = 3000;
    for (int i = 0; i < chain; ++i)
    {
        tasks += "#" + std::to_string(1000 + i) + "=IFCTASK('t" + std::to_string(i) + "',$,'T',$,$,$,$,$,$,.F.,$,$,$);\n";
        if (i > 0)
            tasks += "#" + std::to_string(5000 + i) + "=IFCRELNESTS('n" + std::to_string(i) + "',$,$,$,#" +
                     std::to_string(999 + i) + ",(#" + std::to_string(1000 + i) + "));\n";
    }
    tasks += "#9000=IFCRELNESTS('c',$,$,$,#" + std::to_string(1000 + chain - 1) + ",(#1000));\n";
    ifc.insert(ifc.find("ENDSEC;\nEND-ISO"), tasks);
    const Schedule schedule = readIfcSchedule(IfcModelIndex(ifc, "chain.ifc"), "chain.ifc");
    ASSERT_EQ(schedule.tasks.size(), static_cast<std::size_t>(chain));
    EXPECT_EQ(schedule.tasks[0].key, "1");
    EXPECT_EQ(schedule.tasks[1].key, "1.1");
}

} // namespace
