#include "ScheduleFiles.h"

#include "SharedData.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

using veltra::test::runScheduleProgram;

// The generated plan, link table and model in one folder, as a user would have them.
class ScheduleCommand : public ::testing::Test
{
protected:
    ScheduleCommand()
    {
        plan = folder.write("plan.xml", veltra::test::msProjectXml("1.02"));
        links = folder.write("links.csv", "Task,GUID,Element\n"
                                          "1.1,0VeltraWall00000000010,138584\n"
                                          "1.1,0VeltraWall00000000011,11\n"
                                          "1.02,0VeltraSlab00000000012,12\n"
                                          "7.7,0VeltraSlab00000000012,12\n"
                                          "1.2,0UnknownGlobalId00000,77\n");
        model = folder.write("small.ifc", veltra::test::smallIfc(false));
        out = folder.file("out/nested");
    }

    veltra::test::TempDir folder;
    std::string plan, links, model, out;
};

TEST_F(ScheduleCommand, PlanAndLinksPlayOnTheModel)
{
    const auto run = runScheduleProgram({"--plan", plan, "--links", links, "--model", model, "--out", out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {"tasks: 6 (1 summary, 1 milestone), keyed by OutlineNumber\n", "rows read: 5\n",
                             "rows linked: 3\n", "rows with empty keys: 0\n",
                             "rows with unknown task keys: 1 (1 distinct)\n",
                             "rows with unknown GlobalIds: 1 (1 distinct)\n", "tasks without elements: 3\n",
                             "elements without tasks: 1\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
    EXPECT_NE(run.err.find("\"1.2\" equals \"1.02\""), std::string::npos) << run.err;

    const Json::Value binding = veltra::test::readJson(out + "/binding.json");
    EXPECT_EQ(binding.getMemberNames(), (std::vector<std::string>{"1.1", "1.2"}));
    EXPECT_EQ(binding["1.1"].size(), 2u);
    EXPECT_EQ(binding["1.2"][0].asInt(), 12);
    const std::string tasks = veltra::test::readText(out + "/tasks.json");
    EXPECT_NE(tasks.find("\"notes\" : \"Outer walls & doors\\n  <north>\""), std::string::npos) << tasks;

    veltra::test::PlayedModel played =
        veltra::test::playOn(veltra::test::smallIfc(false), tasks, veltra::test::readText(out + "/binding.json"));
    ASSERT_TRUE(played.control);
    const std::tuple<const char*, int, std::vector<int>> cases[] = {
        {"2024-02-29", 1, {13}}, // the column has no task and keeps standing
        {"2024-03-02", 1, {11, 13, 138584}},
        {"2024-03-04", 1, {11, 12, 13, 138584}},
        {"2024-03-01", 2, {13}},
        {"2024-03-05", 2, {11, 13, 138584}},
    };
    for (const auto& [date, mode, shown] : cases)
        EXPECT_EQ(played.shownOn(date, mode), shown) << date << " mode " << mode;
}

TEST_F(ScheduleCommand, ElementIdsNeedNoModel)
{
    const auto run = runScheduleProgram(
        {"--plan", plan, "--links", links, "--link-element", "Element", "--element-key", "id", "--out", out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("rows linked: 4\n"), std::string::npos) << run.out;
    EXPECT_EQ(veltra::test::readJson(out + "/binding.json")["1.3"][0].asInt(), 77);
}

TEST_F(ScheduleCommand, BadInputGetsItsExitCodeAndMessage)
{
    const std::string notXml = folder.write("not.xml", "this is no XML");
    const std::string otherXml = folder.write("other.xml", "<Project><Name>x</Name></Project>");
    const std::string noColumn = folder.write("nocolumn.csv", "Activity,GUID\n1.1,x\n");
    const std::string openQuote = folder.write("quote.csv", "Task,GUID\n\"1.1,x\n");
    const std::string ifc4x3 = folder.write(
        "new.ifc", "ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION((''),'2;1');\nFILE_NAME('','',(''),(''),'','','');\n"
                   "FILE_SCHEMA(('IFC4X3_ADD2'));\nENDSEC;\nDATA;\n#1=IFCPROJECT('x',$,$,$,$,$,$,$,$);\nENDSEC;\n"
                   "END-ISO-10303-21;\n");
    const std::string missing = folder.file("missing.xml");
    struct Case
    {
        std::vector<std::string> arguments;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {{"--plan", missing, "--links", links, "--model", model, "--out", out}, 1, "missing.xml: no such file"},
        {{"--plan", notXml, "--links", links, "--model", model, "--out", out}, 1, "not an XML document"},
        {{"--plan", otherXml, "--links", links, "--model", model, "--out", out}, 1, "not a Microsoft Project XML"},
        {{"--plan", plan, "--links", noColumn, "--model", model, "--out", out}, 1, "no column \"Task\""},
        {{"--plan", plan, "--links", openQuote, "--model", model, "--out", out}, 1, "never closes"},
        {{"--plan", plan, "--links", links, "--out", out}, 1, "--model"},
        {{"--plan", plan, "--links", links, "--model", ifc4x3, "--out", out}, 1, "IFC4X3_ADD2"},
        {{"--plan", plan, "--links", links, "--model", notXml, "--out", out}, 1, "not an IFC file"},
        {{"--ifc-schedule", ifc4x3, "--out", out}, 1, "IFC4X3_ADD2"},
        {{"--ifc-schedule", model, "--out", out}, 1, "no IfcTask"},
        {{"--plan", plan, "--links", links, "--task-key", "code", "--out", out}, 2, "--task-key"},
        {{"--plan", plan, "--links", links, "--element-key", "tag", "--out", out}, 2, "--element-key"},
        {{"--plan", plan, "--links", links, "--model", model}, 2, "--out is required"},
        {{"--plan", plan, "--model", model, "--out", out}, 2, "--plan and --links go together"},
        {{"--ifc-schedule", model, "--plan", plan, "--links", links, "--out", out}, 2, "takes no --plan"},
        {{"--plan", plan, "--links", links, "--colour", "red", "--out", out}, 2, "unknown option \"--colour\""},
        {{"--plan", plan, "--plan", plan, "--links", links, "--out", out}, 2, "given twice"},
        {{"--out"}, 2, "needs a value"},
    };
    for (const Case& test : cases)
    {
        const auto run = runScheduleProgram(test.arguments);
        SCOPED_TRACE(::testing::PrintToString(test.arguments));
        EXPECT_EQ(run.exitCode, test.exitCode) << run.err;
        EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
        if (test.exitCode == 2)
        {
            EXPECT_NE(run.err.find("usage: veltra-schedule"), std::string::npos);
        }
    }
}

TEST(ScheduleCommandSharedData, SchependomlaanLinksAreCounted)
{
    VELTRA_SHARED_DATA_OR_SKIP(plan, "schedule/schependomlaan_planning_msproject.xml");
    VELTRA_SHARED_DATA_OR_SKIP(links, "schedule/schependomlaan_eventlog_as_planned.csv");
    VELTRA_SHARED_DATA_OR_SKIP(model, "schedule/construction_scheduling_task_IFC4.ifc");
    veltra::test::TempDir folder;
    const auto run = runScheduleProgram({"--plan", plan, "--links", links, "--model", model, "--task-key", "name",
                                         "--link-task", "TaskName", "--out", folder.file("out")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Its seven named rows without a WBS code push the keys to the outline numbers; its GlobalIds belong to a model
    // that is not here, and one task name of the table ("Afbouw") is no task of the plan.
    for (const char* line : {"tasks: 121 (0 summaries, 0 milestones), keyed by OutlineNumber\n",
                             "rows skipped: 36\n", "rows read: 7166\n", "rows linked: 0\n",
                             "rows with unknown task keys: 3505 (1 distinct)\n",
                             "rows with unknown GlobalIds: 7166 (3505 distinct)\n", "tasks without elements: 121\n",
                             "elements without tasks: 5\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
    const Json::Value tasks = veltra::test::readJson(folder.file("out/tasks.json"));
    ASSERT_EQ(tasks.size(), 121u);
    EXPECT_EQ(tasks[0]["wbs"].asString(), "1");
    EXPECT_EQ(tasks[0]["name"].asString(), "Onwerkbare dagen");
    EXPECT_EQ(veltra::test::readText(folder.file("out/binding.json")), "{}\n");
}

} // namespace
