#include "ProgressFixtures.h"

#include <SolvoEarthKits/progress/ProgressDates.h>

#include <osgUtil/UpdateVisitor>

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace veltra::test;

namespace {

std::string dateOf(int dayOfYear)
{
    return SolvoEarthUtil::addDays("2015-01-01", dayOfYear);
}

} // namespace

// Playback runs on one thread through update traversals while the page's thread sets and reads
// dates, ranges, modes and opacity. The update traversal stops at the control (as far as its
// children go, the scene graph is changed while frames run by design; only the control's own
// state is shared here).
TEST(ProgressControlThreads, PlaybackWhileThePageCallsSettersAndGetters)
{
    std::vector<std::string> names;
    std::vector<TaskSpec> specs;
    std::map<std::string, std::vector<int>> binding;
    for (int i = 1; i <= 40; ++i)
    {
        names.push_back("Element [" + std::to_string(i) + "]");
        const std::string wbs = "1." + std::to_string(i);
        specs.emplace_back(wbs, dateOf(i * 5), dateOf(i * 5 + 20), dateOf(i * 5 + 3), dateOf(i * 5 + 30));
        binding[wbs] = {i, (i % 40) + 1};
    }
    osg::ref_ptr<osg::Group> model = makeModel(names);
    osg::ref_ptr<ProgressControl> control = makeControl(model.get(), taskList(specs), bindingOf(binding));
    ASSERT_TRUE(control.valid());

    std::atomic<double> clock{0.0};
    std::atomic<int> reports{0};
    control->setClock([&clock] { return clock.load(); });
    control->onDateChanged = [&reports](const std::string today, const std::string, const std::string) {
        EXPECT_EQ(today.size(), 10u);
        ++reports;
    };
    control->setSpeed(40.0);
    control->setLoop(true);
    control->start();

    std::atomic<bool> pageDone{false};
    std::thread playback([&] {
        osg::ref_ptr<osgUtil::UpdateVisitor> visitor = new osgUtil::UpdateVisitor;
        visitor->setTraversalMode(osg::NodeVisitor::TRAVERSE_NONE);
        for (int frame = 0; frame < 3000 || !pageDone; ++frame)
        {
            clock = clock + 0.02;
            visitor->reset();
            control->accept(*visitor);
            if (frame > 200000)
                break;
        }
    });

    std::mt19937 random(20151207);
    for (int call = 0; call < 600; ++call)
    {
        switch (random() % 12)
        {
        case 0: control->setToday(dateOf(static_cast<int>(random() % 250))); break;
        case 1:
            control->setRange(dateOf(static_cast<int>(random() % 30)), dateOf(200 + static_cast<int>(random() % 50)));
            break;
        case 2: control->start(); break;
        case 3: control->pause(random() % 2 == 0); break;
        case 4: control->setMode(1 + static_cast<int>(random() % 3)); break;
        case 5: control->setAllAlpha(static_cast<float>(random() % 100) / 100.0f); break;
        case 6: control->setChildAlpha("1." + std::to_string(1 + random() % 40), 0.5f); break;
        case 7: EXPECT_EQ(control->getToday().size(), 10u); break;
        case 8:
        {
            std::lock_guard<std::recursive_mutex> lock(control->mutex);
            std::string start, end;
            control->getRange(start, end, 3);
            EXPECT_LE(start, end);
            break;
        }
        case 9: control->loadTasks(taskList(specs), 3); break;
        case 10: control->setSpeed(10.0 + static_cast<double>(random() % 50)); break;
        default:
            EXPECT_GE(control->getState(), 0);
            EXPECT_LE(control->getState(), 2);
            control->setLoop(random() % 2 == 0);
            break;
        }
    }
    control->start();
    pageDone = true;
    playback.join();

    EXPECT_GT(reports.load(), 0);
    control->stop();
    EXPECT_EQ(control->getState(), 0);
}
