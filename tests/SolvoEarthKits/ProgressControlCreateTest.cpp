#include "ProgressFixtures.h"

#include <osg/observer_ptr>

#include <gtest/gtest.h>

using namespace veltra::test;

namespace {

std::vector<std::string> wbsCodes(const ProgressControl& control)
{
    std::vector<std::string> codes;
    for (const auto& [key, task] : control.getTasks())
        codes.push_back(task->wbs);
    return codes;
}

const ProgressControl::ProgressControlGroup* task(const ProgressControl& control, const std::string& wbs)
{
    auto found = control.getTasks().find(wbs);
    return found == control.getTasks().end() ? nullptr : found->second.get();
}

} // namespace

TEST(ProgressControlCreate, EmptyScheduleGivesAnEmptyControl)
{
    osg::ref_ptr<osg::Group> model = makeModel({"Wall [1]"});
    osg::ref_ptr<ProgressControl> control = makeControl(model.get(), "[]", "{}");
    ASSERT_TRUE(control.valid());
    EXPECT_TRUE(control->getTasks().empty());
    EXPECT_EQ(control->getToday(), "");
    std::string start, end;
    control->getRange(start, end, 3);
    EXPECT_EQ(start, "");
    EXPECT_EQ(end, "");
    ASSERT_EQ(control->getNumChildren(), 1u);
    EXPECT_EQ(control->getChild(0), model.get());
    EXPECT_NE(control->getUpdateCallback(), nullptr);
}

TEST(ProgressControlCreate, RejectedInputGivesNull)
{
    osg::ref_ptr<osg::Group> model = makeModel({"Wall [1]"});
    const std::string tasks = taskList({{"1", "2015-01-01", "2015-01-02"}});
    EXPECT_EQ(ProgressControl::create(nullptr, tasks, "{\"1\":[1]}", 3, false), nullptr);
    EXPECT_EQ(ProgressControl::create(model.get(), "[{\"wbs\":", "{\"1\":[1]}", 3, false), nullptr);
    EXPECT_EQ(ProgressControl::create(model.get(), tasks, "{\"1\":[1]", 3, false), nullptr);
    EXPECT_EQ(ProgressControl::create(model.get(), "{\"wbs\":\"1\"}", "{\"1\":[1]}", 3, false), nullptr)
        << "a list that is not an array";
    EXPECT_EQ(ProgressControl::create(model.get(), "[{\"wbs\":\"1\"}, 5]", "{\"1\":[1]}", 3, false), nullptr)
        << "an element that is not an object";
    EXPECT_EQ(ProgressControl::create(model.get(), tasks, "[[1]]", 3, false), nullptr) << "binding not an object";
    EXPECT_EQ(ProgressControl::create(model.get(), "", "{}", 3, false), nullptr);
    EXPECT_EQ(model->referenceCount(), 1) << "a rejected control lets go of the model";
}

TEST(ProgressControlCreate, TasksWithoutGeometryAreDropped)
{
    osg::ref_ptr<osg::Group> model = makeModel({"Wall [1]", "Slab:2", "Door"});
    const std::string tasks = taskList({{"1", "2015-01-01", "2015-01-05"},
                                        {"2", "2015-01-02", "2015-01-06"},
                                        {"3", "2015-01-03", "2015-01-07"},
                                        {"4", "2015-01-04", "2015-01-08"}});
    // Task 2 is named by no binding member, task 3's ids match no geode, task 4 binds nothing.
    osg::ref_ptr<ProgressControl> control = makeControl(model.get(), tasks, R"({"1":[1,2],"3":[99],"4":[]})");
    ASSERT_TRUE(control.valid());
    EXPECT_EQ(wbsCodes(*control), (std::vector<std::string>{"1"}));
    EXPECT_EQ(task(*control, "1")->getNumChildren(), 2u);
    EXPECT_EQ(geodeNamed(model.get(), "Door")->getNumParents(), 1u) << "a geode without id binds to nothing";
}

TEST(ProgressControlCreate, GeodeBindsToEveryTaskListingItsId)
{
    osg::ref_ptr<osg::Group> model = makeModel({"Pipe:15", "Wall [16]"});
    const std::string tasks = taskList(
        {{"1", "2015-01-01", "2015-01-05"}, {"2", "2015-01-02", "2015-01-06"}, {"3", "2015-01-03", "2015-01-07"}});
    osg::ref_ptr<ProgressControl> control = makeControl(model.get(), tasks, R"({"1":[15],"2":[15,16,15],"3":[16]})");
    ASSERT_TRUE(control.valid());
    osg::Geode* pipe = geodeNamed(model.get(), "Pipe:15");
    EXPECT_EQ(pipe->getNumParents(), 3u) << "the model and tasks 1 and 2";
    EXPECT_EQ(task(*control, "2")->getNumChildren(), 2u) << "an id listed twice binds once";
    EXPECT_TRUE(task(*control, "1")->containsNode(pipe));
    EXPECT_FALSE(task(*control, "3")->containsNode(pipe));
}

TEST(ProgressControlCreate, EqualWbsCodesShareOneKeyButBindByExactText)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]", "B [2]"});
    TaskSpec first{"1.2", "2015-01-01", "2015-01-05"};
    first.name = "first";
    TaskSpec second{"1.02", "2015-02-01", "2015-02-05"};
    second.name = "second";
    osg::ref_ptr<ProgressControl> control =
        makeControl(model.get(), taskList({first, second}), R"({"1.02":[2],"1.2":[1]})");
    ASSERT_TRUE(control.valid());
    ASSERT_EQ(control->getTasks().size(), 1u);
    const auto* kept = task(*control, "1.2");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->name, "second");
    EXPECT_EQ(kept->wbs, "1.02");
    ASSERT_EQ(kept->getNumChildren(), 1u) << "only the member spelled \"1.02\" binds it";
    EXPECT_EQ(kept->getChild(0)->getName(), "B [2]");
    EXPECT_EQ(geodeNamed(model.get(), "A [1]")->getNumParents(), 1u) << "the replaced task lets go of its geode";
}

TEST(ProgressControlCreate, ReadsTaskFieldsAndNormalisesDates)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]", "B [2]", "C [3]"});
    const std::string tasks = R"([
        {"summary": true, "wbs": "0", "startP": "2000-01-01", "finishP": "2030-01-01"},
        {"wbs": "1", "name": "Walls", "notes": "east side", "milestone": true, "type": "结构拆除",
         "startP": "2015-1-5", "finishP": "2015-03-07 08:00:00", "startA": "15-1-5", "finishA": "2015/2/9"},
        {"wbs": "2", "name": 7, "startP": 20150101, "finishP": null, "milestone": "yes"},
        {"wbs": "3", "type": "新建", "startP": "2015-13-40", "finishP": ["2015-01-01"]}
    ])";
    osg::ref_ptr<ProgressControl> control = makeControl(model.get(), tasks, R"({"0":[1],"1":[1],"2":[2],"3":[3]})");
    ASSERT_TRUE(control.valid());
    EXPECT_EQ(wbsCodes(*control), (std::vector<std::string>{"1", "2", "3"})) << "summary rows are skipped";

    const auto* walls = task(*control, "1");
    EXPECT_EQ(walls->name, "Walls");
    EXPECT_EQ(walls->notes, "east side");
    EXPECT_TRUE(walls->milestone);
    EXPECT_TRUE(walls->isDemolition);
    EXPECT_EQ(walls->startP(), "2015-01-05");
    EXPECT_EQ(walls->finishP(), "2015-03-07");
    EXPECT_EQ(walls->startA(), "") << "seven bytes do not read as a date";
    EXPECT_EQ(walls->finishA(), "2015-02-09");

    const auto* odd = task(*control, "2");
    EXPECT_EQ(odd->name, "7");
    EXPECT_EQ(odd->startP(), "") << "a number is no date text";
    EXPECT_FALSE(odd->milestone);

    const auto* third = task(*control, "3");
    EXPECT_FALSE(third->isDemolition);
    EXPECT_EQ(third->startP(), "2015-13-40") << "dates are not range-checked";
    EXPECT_EQ(third->finishP(), "");
}

TEST(ProgressControlCreate, FlagsSelectWhichDatesAreRead)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]"});
    const std::string tasks = taskList({{"1", "2015-01-01", "2015-01-05", "2015-02-01", "2015-02-05"}});
    osg::ref_ptr<ProgressControl> plan = makeControl(model.get(), tasks, R"({"1":[1]})", 1);
    const auto* planned = plan->getTasks().begin()->second.get();
    EXPECT_EQ(planned->startP(), "2015-01-01");
    EXPECT_EQ(planned->startA(), "");

    osg::ref_ptr<ProgressControl> actual = makeControl(model.get(), tasks, R"({"1":[1]})", 2);
    const auto* done = actual->getTasks().begin()->second.get();
    EXPECT_EQ(done->startP(), "");
    EXPECT_EQ(done->finishA(), "2015-02-05");
}

TEST(ProgressControlCreate, BindingValuesThatAreNotIntegersAreSkipped)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]", "B [2]", "C [3]", "D [4]"});
    const std::string tasks = taskList({{"1", "2015-01-01", "2015-01-05"}, {"2", "2015-01-01", "2015-01-05"}});
    osg::ref_ptr<ProgressControl> control =
        makeControl(model.get(), tasks, R"({"1":[1, "2", 3.5, 4.0, null, [3], 99999999999, -5], "2":"3", "nope":[2]})");
    ASSERT_TRUE(control.valid());
    EXPECT_EQ(wbsCodes(*control), (std::vector<std::string>{"1"}));
    const auto* bound = control->getTasks().begin()->second.get();
    ASSERT_EQ(bound->getNumChildren(), 2u);
    EXPECT_TRUE(bound->containsNode(geodeNamed(model.get(), "A [1]")));
    EXPECT_TRUE(bound->containsNode(geodeNamed(model.get(), "D [4]"))) << "4.0 is an integer";
}

TEST(ProgressControlCreate, RangeSpansAllDatesAndTodayIsItsEnd)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]", "B [2]"});
    const std::string tasks =
        taskList({{"1", "2015-03-01", "2015-03-10", "2015-03-05", "2015-04-02"}, {"2", "2015-02-01", "2015-02-20"}});
    osg::ref_ptr<ProgressControl> control = makeControl(model.get(), tasks, R"({"1":[1],"2":[2]})");
    ASSERT_TRUE(control.valid());
    EXPECT_EQ(control->getToday(), "2015-04-02");
    std::string start, end;
    control->getRange(start, end, 1);
    EXPECT_EQ(start + " " + end, "2015-02-01 2015-03-10");
    control->getRange(start, end, 2);
    EXPECT_EQ(start + " " + end, "2015-03-05 2015-04-02");
    EXPECT_EQ(control->getMode(), 1);
    EXPECT_TRUE(shown(geodeNamed(model.get(), "B [2]"))) << "the end date is displayed at once";
}

TEST(ProgressControlCreate, RangeIgnoresBackwardAndMissingSides)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]", "B [2]"});
    const std::string tasks =
        taskList({{"1", "2015-02-01", "2015-01-01", "2015-05-01", "2015-05-09"}, {"2", "", "", "2015-06-01", ""}});
    osg::ref_ptr<ProgressControl> control = makeControl(model.get(), tasks, R"({"1":[1],"2":[2]})");
    std::string start, end;
    control->getRange(start, end, 1);
    EXPECT_EQ(start, "") << "a finish before its start contributes nothing";
    EXPECT_EQ(end, "");
    control->getRange(start, end, 2);
    EXPECT_EQ(start + " " + end, "2015-05-01 2015-05-09");
}

TEST(ProgressControlCreate, ControlIsKeptAliveByItsOwnerOnly)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]"});
    ProgressControl* raw = ProgressControl::create(model.get(), "[]", "{}", 3, false);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->referenceCount(), 0) << "the caller takes the first reference";

    osg::observer_ptr<ProgressControl> watch;
    osg::ref_ptr<osg::Callback> callback;
    {
        osg::ref_ptr<ProgressControl> owner = raw;
        watch = owner.get();
        callback = owner->getUpdateCallback();
    }
    EXPECT_FALSE(watch.valid()) << "the update callback does not hold the control";

    // A callback that outlived its control does nothing when run.
    osg::ref_ptr<osg::Group> node = new osg::Group;
    node->setUpdateCallback(callback.get());
    osg::NodeVisitor visitor(osg::NodeVisitor::UPDATE_VISITOR, osg::NodeVisitor::TRAVERSE_ALL_CHILDREN);
    EXPECT_TRUE(node->getUpdateCallback()->run(node.get(), &visitor));
}

TEST(ProgressControlLoadTasks, ReReadsFieldsOfExistingTasksOnly)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]", "B [2]"});
    TaskSpec demolition{"1", "2015-01-01", "2015-01-10", "2015-01-02", "2015-01-12"};
    demolition.type = "拆除";
    const std::string tasks = taskList({demolition, {"2", "2015-02-01", "2015-02-10"}});
    osg::ref_ptr<ProgressControl> control = makeControl(model.get(), tasks, R"({"1":[1],"2":[2]})");
    ASSERT_TRUE(control.valid());
    const std::string today = control->getToday();

    EXPECT_TRUE(control->loadTasks(R"([
        {"wbs": "01", "name": "renamed", "notes": "n", "type": "new", "startA": "2015-1-3"},
        {"wbs": "9", "name": "unknown"},
        {"summary": true, "wbs": "2", "name": "summary row"}
    ])",
                                   2));
    const auto* first = control->getTasks().find("1")->second.get();
    EXPECT_EQ(first->name, "renamed") << "\"01\" finds task \"1\" by WBS order";
    EXPECT_EQ(first->notes, "n");
    EXPECT_TRUE(first->isDemolition) << "the type is not re-read";
    EXPECT_EQ(first->startA(), "2015-01-03");
    EXPECT_EQ(first->finishA(), "") << "a missing date clears it";
    EXPECT_EQ(first->startP(), "2015-01-01") << "flags 2 leave the plan alone";
    EXPECT_EQ(control->getTasks().find("2")->second->name, "Task");
    EXPECT_EQ(control->getTasks().size(), 2u);
    EXPECT_EQ(control->getToday(), today);
}

TEST(ProgressControlLoadTasks, RejectedDocumentsChangeNothing)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A [1]"});
    osg::ref_ptr<ProgressControl> control =
        makeControl(model.get(), taskList({{"1", "2015-01-01", "2015-01-10"}}), R"({"1":[1]})");
    EXPECT_FALSE(control->loadTasks("[{\"wbs\":\"1\"", 3));
    EXPECT_FALSE(control->loadTasks("{\"wbs\":\"1\"}", 3));
    EXPECT_FALSE(control->loadTasks("[{\"wbs\":\"1\",\"name\":\"x\"}, \"text\"]", 3)) << "all or nothing";
    EXPECT_EQ(control->getTasks().begin()->second->name, "Task");
    EXPECT_TRUE(control->loadTasks("[]", 3));
}
