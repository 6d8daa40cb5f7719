#include "ProgressFixtures.h"

#include <osg/BlendColor>

#include <gtest/gtest.h>

using namespace veltra::test;

namespace {

// A model "Element [1]" .. "Element [n]", one task per element with task i bound to element i,
// and the reports of every date change recorded.
class ProgressDisplay : public ::testing::Test
{
protected:
    void build(const std::vector<TaskSpec>& specs, const std::string& rangeStart = "2015-01-01",
               const std::string& rangeEnd = "2015-12-31")
    {
        std::vector<std::string> names;
        std::map<std::string, std::vector<int>> binding;
        for (size_t i = 0; i < specs.size(); ++i)
        {
            names.push_back("Element [" + std::to_string(i + 1) + "]");
            binding[specs[i].wbs].push_back(static_cast<int>(i + 1));
        }
        model = makeModel(names);
        control = makeControl(model.get(), taskList(specs), bindingOf(binding));
        ASSERT_TRUE(control.valid());
        control->onTodayText = [this](const std::string text) { todayText = text; };
        control->onNotesText = [this](const std::string text) { notesText = text; };
        control->onDateChanged = [this](const std::string today, const std::string plan, const std::string actual) {
            changed = today + "|" + plan + "|" + actual;
        };
        control->setRange(rangeStart, rangeEnd);
    }

    osg::Geode* element(int id) { return geodeNamed(model.get(), "Element [" + std::to_string(id) + "]"); }

    osg::ref_ptr<osg::Group> model;
    osg::ref_ptr<ProgressControl> control;
    std::string todayText;
    std::string notesText;
    std::string changed;
};

} // namespace

TEST_F(ProgressDisplay, PlanModeHidesShowsAndTintsByDate)
{
    build({{"1.1", "2015-03-01", "2015-03-10"}});

    control->setToday("2015-02-28");
    EXPECT_TRUE(hidden(element(1)));
    EXPECT_EQ(todayText, "当前日期: 2015-02-28\n");
    EXPECT_EQ(changed, "2015-02-28||");

    for (const char* day : {"2015-03-01", "2015-03-10"})
    {
        control->setToday(day);
        EXPECT_TRUE(shown(element(1))) << day;
        EXPECT_EQ(tintOf(element(1)), 3) << day;
        EXPECT_EQ(changed, std::string(day) + "|1.1|");
    }
    EXPECT_EQ(todayText, "当前日期: 2015-03-10\n1.1 Task  计划[2015-03-01 ~ 2015-03-10] 10/10\n");

    control->setToday("2015-03-04");
    EXPECT_EQ(todayText, "当前日期: 2015-03-04\n1.1 Task  计划[2015-03-01 ~ 2015-03-10] 4/10\n");

    control->setToday("2015-03-11");
    EXPECT_TRUE(shown(element(1)));
    EXPECT_EQ(tintOf(element(1)), 0);
    EXPECT_EQ(todayText, "当前日期: 2015-03-11\n");
    EXPECT_EQ(changed, "2015-03-11||");
}

TEST_F(ProgressDisplay, DemolitionTasksDisappearWhenTheyStart)
{
    TaskSpec demolition{"1", "2015-03-01", "2015-03-10"};
    demolition.type = "拆除";
    build({demolition});
    control->setToday("2015-02-28");
    EXPECT_TRUE(shown(element(1)));
    EXPECT_EQ(tintOf(element(1)), 0);
    control->setToday("2015-03-01");
    EXPECT_TRUE(hidden(element(1)));
    EXPECT_EQ(changed, "2015-03-01|1|") << "hidden yet current and reported";
    control->setToday("2015-04-01");
    EXPECT_TRUE(hidden(element(1)));
}

TEST_F(ProgressDisplay, TasksOutsideTheRangeStayHidden)
{
    build({{"1", "2016-03-01", "2016-03-10"}, {"2", "2014-01-01", "2014-02-01"}, {"3", "2015-01-01", ""}});
    control->setRange("2015-01-01", "2015-12-31");
    for (const char* day : {"2014-01-15", "2015-06-01", "2016-03-05"})
    {
        control->setToday(day);
        EXPECT_TRUE(hidden(element(1))) << day;
        EXPECT_TRUE(hidden(element(2))) << day;
    }
    EXPECT_TRUE(shown(element(3))) << "an open-ended task started in range";
}

TEST_F(ProgressDisplay, ActualModeFollowsTheActualDates)
{
    build({{"1", "2015-03-01", "2015-03-10", "2015-03-05", "2015-03-20"}});
    control->setToday("2015-03-03");
    EXPECT_EQ(tintOf(element(1)), 3);

    control->setMode(2);
    EXPECT_EQ(tintOf(element(1)), 3) << "a mode change shows at the next date";
    control->setToday("2015-03-03");
    EXPECT_TRUE(hidden(element(1)));
    EXPECT_EQ(changed, "2015-03-03||");
    control->setToday("2015-03-12");
    EXPECT_EQ(tintOf(element(1)), 3);
    EXPECT_EQ(changed, "2015-03-12||1");
    EXPECT_EQ(todayText, "当前日期: 2015-03-12\n1 Task  实际[2015-03-05 ~ 2015-03-20] 8/16\n");
}

TEST_F(ProgressDisplay, PlanAgainstActualColoursLeadAndLag)
{
    build({{"1", "2015-03-01", "2015-03-10", "2015-03-20", "2015-03-30"},   // behind
           {"2", "2015-03-20", "2015-03-30", "2015-03-01", "2015-03-10"},   // ahead
           {"3", "2015-03-01", "2015-03-02", "", ""},                       // never started
           {"4", "2015-01-01", "2015-01-05", "2015-01-02", "2015-01-06"}}); // done
    control->setMode(3);
    control->setToday("2015-03-05");
    EXPECT_EQ(tintOf(element(1)), 1) << "plan current, actual not started: purple";
    EXPECT_EQ(tintOf(element(2)), 2) << "plan not started, actual current: green";
    EXPECT_TRUE(shown(element(1)));
    EXPECT_TRUE(shown(element(2)));
    EXPECT_EQ(tintOf(element(3)), 0) << "plan finished, never started: natural";
    EXPECT_TRUE(shown(element(3)));
    EXPECT_EQ(tintOf(element(4)), 0);
    EXPECT_EQ(changed, "2015-03-05|1|2");
    // Plan-not-started tasks are visited first, so task 2's line comes before task 1's; a side
    // that has not begun counts negative days.
    EXPECT_EQ(todayText, "当前日期: 2015-03-05\n"
                         "2 Task  计划[2015-03-20 ~ 2015-03-30] -14/11  实际[2015-03-01 ~ 2015-03-10] 5/10\n"
                         "1 Task  计划[2015-03-01 ~ 2015-03-10] 5/10  实际[2015-03-20 ~ 2015-03-30] -14/11\n");
}

TEST_F(ProgressDisplay, BothCurrentTintsByElapsedDays)
{
    // On 2015-03-09: task 1 planned from 03-05 (P = 5) but begun 03-01 (A = 9), task 2 the
    // reverse, task 3 on time.
    build({{"1", "2015-03-05", "2015-03-31", "2015-03-01", "2015-03-31"},
           {"2", "2015-03-01", "2015-03-31", "2015-03-05", "2015-03-31"},
           {"3", "2015-03-01", "2015-03-31", "2015-03-01", ""}});
    control->setMode(3);
    control->setToday("2015-02-01");
    EXPECT_TRUE(hidden(element(1)));
    control->setToday("2015-03-09");
    EXPECT_EQ(tintOf(element(1)), 1) << "P 5 < A 9";
    EXPECT_EQ(tintOf(element(2)), 2) << "P 9 > A 5";
    EXPECT_EQ(tintOf(element(3)), 3) << "equal";
    for (int id = 1; id <= 3; ++id)
        EXPECT_TRUE(shown(element(id))) << "both-current tasks show even straight after being hidden";
    EXPECT_NE(todayText.find("3 Task  计划[2015-03-01 ~ 2015-03-31] 9/31  实际[2015-03-01 ~ ] 9/?\n"),
              std::string::npos)
        << todayText;
}

TEST_F(ProgressDisplay, ReportKeepsTheLastTenLines)
{
    std::vector<TaskSpec> specs;
    for (int i = 1; i <= 12; ++i)
    {
        TaskSpec spec{std::to_string(i), "2015-03-01", "2015-03-10"};
        spec.notes = "note " + std::to_string(i);
        specs.push_back(spec);
    }
    build(specs);
    control->setToday("2015-03-02");
    std::string expected = "当前日期: 2015-03-02\n";
    std::string expectedNotes;
    for (int i = 3; i <= 12; ++i)
    {
        expected += std::to_string(i) + " Task  计划[2015-03-01 ~ 2015-03-10] 2/10\n";
        expectedNotes += std::to_string(i) + ": note " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(todayText, expected);
    EXPECT_EQ(notesText, expectedNotes);
    EXPECT_EQ(changed, "2015-03-02|1,2,3,4,5,6,7,8,9,10,11,12|");
}

TEST_F(ProgressDisplay, NotesOfFinishedUnstartedTasksAreReportedAlone)
{
    TaskSpec skipped{"1", "2015-01-01", "2015-01-10"};
    skipped.notes = "postponed";
    build({skipped});
    control->setMode(3);
    control->setToday("2015-02-01");
    EXPECT_EQ(todayText, "当前日期: 2015-02-01\n");
    EXPECT_EQ(notesText, "1: postponed\n");
}

TEST_F(ProgressDisplay, UnknownModeChangesNoNode)
{
    build({{"1", "2015-03-01", "2015-03-10"}});
    control->setToday("2015-03-05");
    control->setMode(7 + 8);
    control->setToday("2015-01-01");
    EXPECT_TRUE(shown(element(1)));
    EXPECT_EQ(tintOf(element(1)), 3);
    EXPECT_EQ(control->getToday(), "2015-01-01");
}

TEST_F(ProgressDisplay, TintOnlyRestoresOpacityForNaturalTasks)
{
    build({{"1", "2015-03-01", "2015-03-10"}, {"2", "2015-01-01", "2015-01-10"}});
    control->setAllAlpha(0.5f);
    control->setToday("2015-03-05");
    EXPECT_EQ(element(2)->getStateSet()->getMode(GL_BLEND), osg::StateAttribute::INHERIT)
        << "tint 0 turns the blending off";
    EXPECT_NE(element(1)->getStateSet()->getMode(GL_BLEND) & osg::StateAttribute::ON, 0u);
    const auto* colour =
        dynamic_cast<const osg::BlendColor*>(element(1)->getStateSet()->getAttribute(osg::StateAttribute::BLENDCOLOR));
    ASSERT_NE(colour, nullptr);
    EXPECT_FLOAT_EQ(colour->getConstantColor().a(), 0.5f);
}

TEST_F(ProgressDisplay, AlphaIsClampedAndChildAlphaNeedsTheExactCode)
{
    build({{"1.2", "2015-03-01", "2015-03-10"}});
    auto alpha = [this] {
        const auto* colour = dynamic_cast<const osg::BlendColor*>(
            element(1)->getStateSet()->getAttribute(osg::StateAttribute::BLENDCOLOR));
        return colour ? colour->getConstantColor().a() : -1.0f;
    };
    control->setAllAlpha(1.5f);
    EXPECT_FLOAT_EQ(alpha(), 1.0f);
    control->setAllAlpha(-0.2f);
    EXPECT_FLOAT_EQ(alpha(), 0.0f);
    control->setChildAlpha("1.02", 0.5f);
    EXPECT_FLOAT_EQ(alpha(), 0.0f) << "\"1.02\" is not task \"1.2\"";
    control->setChildAlpha("1.2", 0.25f);
    EXPECT_FLOAT_EQ(alpha(), 0.25f);
}

TEST_F(ProgressDisplay, BackwardRangeIsSwapped)
{
    build({{"1", "2015-03-01", "2015-03-10"}});
    control->setRange("2016-01-01", "2015-01-01");
    EXPECT_EQ(control->getToday(), "2016-01-01");
    EXPECT_EQ(changed, "2016-01-01||");
}

TEST_F(ProgressDisplay, GeodeOfTwoTasksTakesTheLastStyle)
{
    // Element 1 belongs to a finished task and to a current one; finished tasks are styled first.
    std::vector<std::string> names{"Element [1]"};
    model = makeModel(names);
    control = makeControl(model.get(), taskList({{"1", "2015-03-01", "2015-03-10"}, {"2", "2015-01-01", "2015-01-02"}}),
                          R"({"1":[1],"2":[1]})");
    control->setToday("2015-03-05");
    EXPECT_EQ(tintOf(element(1)), 3);
    EXPECT_TRUE(shown(element(1)));
}
