#include "ProgressFixtures.h"

#include <osgUtil/UpdateVisitor>

#include <gtest/gtest.h>

using namespace veltra::test;

namespace {

// A little over one day of playback at the default speed of 10 days per second, so that binary
// rounding of the clock never lands just below a whole day.
constexpr double kDay = 0.1001;

// A control whose clock the test moves by hand; frames run as real update traversals.
class ProgressPlayback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        model = makeModel({"Element [1]"});
        control = makeControl(model.get(), taskList({{"1", "2015-01-01", "2015-01-10"}}), R"({"1":[1]})");
        ASSERT_TRUE(control.valid());
        control->setClock([this] { return clock; });
        control->onDateChanged = [this](const std::string today, const std::string, const std::string) {
            dates.push_back(today);
        };
    }

    // Advances the clock by `seconds` and runs one update traversal.
    void frame(double seconds)
    {
        clock += seconds;
        osg::ref_ptr<osgUtil::UpdateVisitor> visitor = new osgUtil::UpdateVisitor;
        visitor->setFrameStamp(new osg::FrameStamp);
        control->accept(*visitor);
    }

    double clock = 100.0;
    osg::ref_ptr<osg::Group> model;
    osg::ref_ptr<ProgressControl> control;
    std::vector<std::string> dates;
};

// Counts the update traversals that reach the model below the control.
class CountingCallback : public osg::NodeCallback
{
public:
    void operator()(osg::Node* node, osg::NodeVisitor* nv) override
    {
        ++calls;
        traverse(node, nv);
    }
    int calls = 0;
};

} // namespace

TEST_F(ProgressPlayback, AdvancesByWholeDaysAndStopsPastTheEnd)
{
    EXPECT_EQ(control->getSpeed(), 10.0);
    control->start();
    EXPECT_EQ(control->getState(), 1);
    EXPECT_EQ(control->getToday(), "2015-01-01");
    EXPECT_TRUE(dates.empty()) << "start shows nothing until the first step";

    frame(0.05);
    EXPECT_TRUE(dates.empty()) << "half a day has not passed yet";
    frame(0.0501);
    EXPECT_EQ(control->getToday(), "2015-01-02");
    for (int i = 0; i < 8; ++i)
        frame(kDay);
    EXPECT_EQ(control->getToday(), "2015-01-10");
    EXPECT_EQ(control->getState(), 1);
    EXPECT_EQ(dates.size(), 9u);

    frame(kDay);
    EXPECT_EQ(control->getToday(), "2015-01-11") << "the last date shown lies past the range end";
    EXPECT_EQ(control->getState(), 0);
    frame(1.0);
    EXPECT_EQ(control->getToday(), "2015-01-11");
}

TEST_F(ProgressPlayback, FractionsOfADayAreDroppedAtEachStep)
{
    control->start();
    frame(0.15);
    EXPECT_EQ(control->getToday(), "2015-01-02");
    frame(0.05);
    EXPECT_EQ(control->getToday(), "2015-01-02") << "the half day left over from the last step is gone";
    frame(0.0501);
    EXPECT_EQ(control->getToday(), "2015-01-03");
}

TEST_F(ProgressPlayback, HighSpeedJumpsSeveralDaysPerFrame)
{
    control->setSpeed(100.0);
    control->start();
    frame(0.035);
    EXPECT_EQ(control->getToday(), "2015-01-04");
    EXPECT_EQ(dates, (std::vector<std::string>{"2015-01-04"}));
}

TEST_F(ProgressPlayback, LoopRestartsFromTheRangeStart)
{
    control->setLoop(true);
    control->start();
    frame(1.0);
    EXPECT_EQ(control->getToday(), "2015-01-01") << "passing the end restarts at once";
    EXPECT_EQ(control->getState(), 1);
    EXPECT_EQ(dates.back(), "2015-01-11") << "the date that passed the end was shown";
    frame(kDay);
    EXPECT_EQ(control->getToday(), "2015-01-02");
}

TEST_F(ProgressPlayback, PausedTimeDoesNotCount)
{
    control->start();
    frame(0.05);
    control->pause(true);
    EXPECT_EQ(control->getState(), 2);
    frame(5.0);
    EXPECT_EQ(control->getToday(), "2015-01-01");
    control->pause(true);
    EXPECT_EQ(control->getState(), 2) << "pausing twice changes nothing";
    control->pause(false);
    EXPECT_EQ(control->getState(), 1);
    frame(0.04);
    EXPECT_EQ(control->getToday(), "2015-01-01");
    frame(0.02);
    EXPECT_EQ(control->getToday(), "2015-01-02");
}

TEST_F(ProgressPlayback, SettersThatMustBeIgnored)
{
    control->pause(true);
    EXPECT_EQ(control->getState(), 0) << "pause while stopped does nothing";
    control->setSpeed(0.0);
    control->setSpeed(-3.0);
    EXPECT_EQ(control->getSpeed(), 10.0);
    control->setSpeed(2.5);
    EXPECT_EQ(control->getSpeed(), 2.5);

    control->start();
    frame(1.0);
    control->stop();
    EXPECT_EQ(control->getState(), 0);
    const std::string shownDate = control->getToday();
    frame(1.0);
    EXPECT_EQ(control->getToday(), shownDate) << "stop keeps the date";
}

TEST_F(ProgressPlayback, PlaybackContinuesFromADateSetMeanwhile)
{
    control->start();
    frame(kDay);
    control->setToday("2015-01-07");
    frame(kDay);
    EXPECT_EQ(control->getToday(), "2015-01-08");
}

TEST_F(ProgressPlayback, StepPastTheEndSkipsTheModelsUpdateForThatFrame)
{
    osg::ref_ptr<CountingCallback> counter = new CountingCallback;
    model->setUpdateCallback(counter.get());
    control->start();
    frame(kDay);
    EXPECT_EQ(counter->calls, 1);
    frame(5.0);
    EXPECT_EQ(control->getState(), 0);
    EXPECT_EQ(counter->calls, 1) << "the frame that ended playback did not traverse the model";
    frame(kDay);
    EXPECT_EQ(counter->calls, 2);
}

TEST_F(ProgressPlayback, UnreadableStartReappliesTheSameDateUntilStopped)
{
    control->setRange("", "");
    control->start();
    frame(kDay);
    frame(kDay);
    EXPECT_EQ(control->getState(), 1);
    EXPECT_EQ(control->getToday(), "");
    control->stop();
}
