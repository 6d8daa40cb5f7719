#include "ScheduleFiles.h"

#include <MsProjectReader.h>
#include <ScheduleDates.h>
#include <ScheduleError.h>
#include <ScheduleWriter.h>
#include <TaskKeys.h>

#include <gtest/gtest.h>

namespace {

using namespace veltra::schedule;

TEST(ScheduleDates, CalendarDateOfIsoTexts)
{
    const std::pair<const char*, const char*> cases[] = {
        {"2015-02-18T08:00:00", "2015-02-18"}, {"2015-02-18", "2015-02-18"},   {" 2016-02-29T00:00 ", "2016-02-29"},
        {"2015-02-29T08:00:00", ""},           {"2015-13-01", ""},             {"2015-2-18", ""},
        {"2015-02-180", ""},                   {"18-02-2015", ""},             {"", ""},
        {"2015-02-18 08:00", "2015-02-18"},    {"2100-02-29", ""},             {"2000-02-29", "2000-02-29"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(calendarDateOf(text), expected) << text;
}

TEST(TaskKeys, CodesEqualUnderTheWbsOrderClash)
{
    struct Case
    {
        std::vector<std::string> codes;
        bool usable;
    };
    const Case cases[] = {
        {{"1", "1.1", "1.10", "1.10.1", "2"}, true},
        {{"1", "1.2", "1.02"}, false}, // atoi reads both as 1.2
        {{"A.1", "B.1"}, false},       // both read as 0.1
        {{"1", "", "2"}, false},
        {{"5626", "5631"}, true},
        {{"3", "3"}, false},
    };
    for (const Case& test : cases)
        EXPECT_EQ(findKeyClashes(test.codes).usable(), test.usable) << ::testing::PrintToString(test.codes);
}

struct ExpectedTask
{
    const char* key;
    const char* name;
    bool summary;
    bool milestone;
    const char* startP;
    const char* finishP;
    const char* startA;
    const char* finishA;
};

void expectTasks(const Json::Value& list, const std::vector<ExpectedTask>& expected)
{
    ASSERT_EQ(list.size(), expected.size());
    for (Json::ArrayIndex i = 0; i < list.size(); ++i)
    {
        const Json::Value& task = list[i];
        const ExpectedTask& want = expected[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(task["wbs"].asString(), want.key);
        EXPECT_EQ(task["name"].asString(), want.name);
        EXPECT_EQ(task.get("summary", false).asBool(), want.summary);
        EXPECT_EQ(task.get("milestone", false).asBool(), want.milestone);
        EXPECT_EQ(task.get("startP", "").asString(), want.startP);
        EXPECT_EQ(task.get("finishP", "").asString(), want.finishP);
        EXPECT_EQ(task.get("startA", "").asString(), want.startA);
        EXPECT_EQ(task.get("finishA", "").asString(), want.finishA);
    }
}

Json::Value parsed(const std::string& text)
{
    Json::Value value;
    Json::Reader().parse(text, value);
    return value;
}

TEST(MsProject, DuplicateWbsCodesGiveOutlineKeys)
{
    const Schedule schedule = readMsProject(veltra::test::msProjectXml("1.02"), "plan.xml");
    EXPECT_EQ(schedule.keySource, "OutlineNumber");
    EXPECT_EQ(schedule.skippedRows, 2); // the project summary and the blank row
    EXPECT_EQ(schedule.missingDates, 2);
    const Json::Value tasks = parsed(taskListJson(schedule));
    expectTasks(tasks, {
                           {"1", "Shell", true, false, "2024-03-01", "2024-03-10", "", ""},
                           {"1.1", "Walls", false, false, "2024-03-01", "2024-03-03", "2024-03-02", "2024-03-04"},
                           {"1.2", "Floor", false, false, "2024-03-04", "2024-03-05", "", ""},
                           {"1.3", "Roof", false, false, "2024-03-05", "", "", ""},
                           {"2", "Handover", false, true, "2024-03-10", "2024-03-10", "", ""},
                           {"4", "Paint", false, false, "", "2024-03-12", "", ""},
                       });
    EXPECT_EQ(tasks[1]["notes"].asString(), "Outer walls & doors\n  <north>");
    // The task's own WBS code stays what the link table matches.
    EXPECT_EQ(schedule.tasks[2].wbs, "1.02");

    std::string warnings;
    for (const std::string& warning : schedule.warnings)
        warnings += warning + "\n";
    EXPECT_NE(warnings.find("\"1.2\" equals \"1.02\""), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("Finish is missing"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("\"2024-02-30T08:00:00\" is not a date"), std::string::npos) << warnings;
}

TEST(MsProject, UniqueWbsCodesAreTheKeys)
{
    const Schedule schedule = readMsProject(veltra::test::msProjectXml("1.4"), "plan.xml");
    EXPECT_EQ(schedule.keySource, "WBS");
    std::vector<std::string> keys;
    for (const ScheduleTask& task : schedule.tasks)
        keys.push_back(task.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"1", "1.1", "1.4", "1.2", "2", "3"}));
}

TEST(MsProject, RejectsWhatIsNoProjectDocument)
{
    const std::pair<const char*, const char*> cases[] = {
        {"plain text", "not an XML document"},
        {"<Project><Tasks/></Project>", "not a Microsoft Project XML document"},
        {"<p:Project xmlns:p=\"urn:other\"/>", "not a Microsoft Project XML document"},
        {"<Project xmlns=\"http://schemas.microsoft.com/project\"><Tasks><Task><UID>0</UID><Name>P</Name></Task>"
         "<Task><UID>1</UID></Task></Tasks></Project>",
         "no usable task"},
        {"<Project xmlns=\"http://schemas.microsoft.com/project\"><Tasks>", "not an XML document"},
    };
    for (const auto& [text, message] : cases)
    {
        try
        {
            readMsProject(text, "plan.xml");
            ADD_FAILURE() << "accepted: " << text;
        }
        catch (const ScheduleError& error)
        {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
}

TEST(MsProject, PrefixedNamespaceIsRead)
{
    const Schedule schedule =
        readMsProject("<m:Project xmlns:m=\"http://schemas.microsoft.com/project\"><m:Tasks><m:Task><m:UID>3</m:UID>"
                      "<m:Name>Dig</m:Name><m:WBS>7</m:WBS><m:Start>2024-01-02T08:00:00</m:Start>"
                      "<m:Finish>2024-01-03T08:00:00</m:Finish></m:Task></m:Tasks></m:Project>",
                      "plan.xml");
    ASSERT_EQ(schedule.tasks.size(), 1u);
    EXPECT_EQ(schedule.tasks[0].key, "7");
    EXPECT_EQ(schedule.tasks[0].finishP, "2024-01-03");
}

} // namespace
