#include "ScheduleFiles.h"

#include <CsvTable.h>
#include <IfcModelIndex.h>
#include <LinkBinder.h>
#include <MsProjectReader.h>
#include <ScheduleError.h>

#include <gtest/gtest.h>

namespace {

using namespace veltra::schedule;
using Records = std::vector<std::vector<std::string>>;

TEST(CsvTable, SeparatorsQuotesAndLineEnds)
{
    struct Case
    {
        std::string text;
        char separator;
        std::vector<std::string> header;
        Records records;
    };
    const Case cases[] = {
        {"a,b\n1,2\n", ',', {"a", "b"}, {{"1", "2"}}},
        {"\xEF\xBB\xBF a ; b \r\n1;2\r\n\r\n3;4", ';', {"a", "b"}, {{"1", "2"}, {"3", "4"}}},
        {"a\tb\tc,d\n1\t2\t3,4\n", '\t', {"a", "b", "c,d"}, {{"1", "2", "3,4"}}},
        {"a\tb,c\n", ',', {"a\tb", "c"}, {}}, // a tie goes to the comma
        {"\"x;y\",z\n\"say \"\"hi\"\"\",\"two\nlines\"\n", ',', {"x;y", "z"}, {{"say \"hi\"", "two\nlines"}}},
        {"only\nv\n", ',', {"only"}, {{"v"}}},
        {"a,b\n1\n", ',', {"a", "b"}, {{"1"}}},
    };
    for (const Case& test : cases)
    {
        const CsvTable table = parseCsv(test.text, "links.csv");
        EXPECT_EQ(table.separator, test.separator) << test.text;
        EXPECT_EQ(table.header, test.header) << test.text;
        EXPECT_EQ(table.records, test.records) << test.text;
    }
}

TEST(CsvTable, UnreadableTablesAreRejected)
{
    for (const char* text : {"", "\n\n", "a,b\n\"open,2\n"})
        EXPECT_THROW(parseCsv(text, "links.csv"), ScheduleError) << text;
}

// The generated plan (its Floor under WBS "1.02", so keyed by outline numbers) linked to the small model.
class LinkBinding : public ::testing::Test
{
protected:
    LinkBinding() : model(veltra::test::smallIfc(false), "small.ifc") {}

    const std::string links = "\xEF\xBB\xBF\"Task\";GUID;Element;ID;TaskName;Note\n"
                              "1.1;0VeltraWall00000000010;138584;2;Walls;\"a; quoted \"\"note\"\"\"\n"
                              "1.1;0VeltraWall00000000011;11;2;Walls;\n"
                              "1.02;0VeltraSlab00000000012;12;3;Floor;\n"
                              "1.1;0VeltraWall00000000011;11;2;Walls;repeated\n"
                              "9.9;0VeltraSlab00000000012;12;99;Cellar;\n"
                              "1.2;nope;77;4;Roof;\n"
                              ";0VeltraColumn000000013;13;;;\n";
    IfcModelIndex model;
};

TEST_F(LinkBinding, RowsBindByEachKind)
{
    struct Case
    {
        LinkOptions options;
        bool withModel;
        std::map<std::string, std::vector<int>> binding;
        int linked, empty, unknownTask, unknownElement, tasksWithout, elementsWithout;
    };
    const std::map<std::string, std::vector<int>> walls = {{"1.1", {138584, 11}}, {"1.2", {12}}};
    const Case cases[] = {
        {{"Task", "wbs", "GUID", "guid"}, true, walls, 4, 1, 1, 1, 3, 1},
        {{"Task", "wbs", "Element", "id"}, false, {{"1.1", {138584, 11}}, {"1.2", {12}}, {"1.3", {77}}}, 5, 1, 1, 0,
         2, -1},
        // With the model an id it lacks is unknown like a missing GlobalId.
        {{"Task", "wbs", "Element", "id"}, true, walls, 4, 1, 1, 1, 3, 1},
        {{"ID", "id", "GUID", "guid"}, true, walls, 4, 1, 1, 1, 3, 1},
        {{"ID", "uid", "GUID", "guid"}, true, walls, 4, 1, 1, 1, 3, 1}, // here UIDs equal IDs
        {{"TaskName", "name", "GUID", "guid"}, true, walls, 4, 1, 1, 1, 3, 1},
    };
    for (const Case& test : cases)
    {
        SCOPED_TRACE(test.options.taskColumn + " by " + test.options.taskKey + ", " + test.options.elementColumn);
        Schedule schedule = readMsProject(veltra::test::msProjectXml("1.02"), "plan.xml");
        const LinkReport report = bindLinks(schedule, parseCsv(links, "links.csv"), test.options,
                                            test.withModel ? &model : nullptr, "links.csv");
        std::map<std::string, std::vector<int>> binding;
        for (const ScheduleTask& task : schedule.tasks)
            if (!task.elements.empty())
                binding[task.key] = task.elements;
        EXPECT_EQ(binding, test.binding);
        EXPECT_EQ(report.rowsRead, 7);
        EXPECT_EQ(report.rowsLinked, test.linked);
        EXPECT_EQ(report.rowsEmptyKeys, test.empty);
        EXPECT_EQ(report.rowsUnknownTask, test.unknownTask);
        EXPECT_EQ(report.rowsUnknownElement, test.unknownElement);
        EXPECT_EQ(report.tasksWithoutElements, test.tasksWithout);
        EXPECT_EQ(report.elementsWithoutTasks, test.elementsWithout);
    }
}

TEST_F(LinkBinding, NamedColumnsMustExist)
{
    Schedule schedule = readMsProject(veltra::test::msProjectXml("1.02"), "plan.xml");
    const CsvTable table = parseCsv(links, "links.csv");
    const LinkOptions missingTask{"Activity", "wbs", "GUID", "guid"};
    const LinkOptions missingElement{"Task", "wbs", "Guid", "guid"};
    const LinkOptions guidsWithoutModel{"Task", "wbs", "GUID", "guid"};
    EXPECT_THROW(bindLinks(schedule, table, missingTask, &model, "links.csv"), ScheduleError);
    EXPECT_THROW(bindLinks(schedule, table, missingElement, &model, "links.csv"), ScheduleError);
    EXPECT_THROW(bindLinks(schedule, table, guidsWithoutModel, nullptr, "links.csv"), ScheduleError);
}

} // namespace
