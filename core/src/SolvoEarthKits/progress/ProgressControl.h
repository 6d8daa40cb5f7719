#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>
#include <SolvoEarthKits/progress/WbsOrder.h>

#include <osg/Group>
#include <osg/NodeCallback>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace SolvoEarthUtil {
class TintPrograms;
}

/// A construction schedule bound to a building model and replayed on it day by day.
///
/// Every task of the schedule (a WBS item with planned and actual start and finish dates) is bound
/// to the geodes of the model that it builds or demolishes; the simulated date `today` decides,
/// task by task, whether those geodes are hidden, shown plainly or shown tinted, in one of three
/// display modes: 1 plan, 2 actual, 3 plan against actual. The model root is the control's only
/// child, so attaching the control in its place shows the model with the schedule applied.
///
/// Threads: playback (onFrame) runs on the rendering thread inside the update traversal; the
/// public operations arrive from the page's thread. Operations that read or change `today`, the
/// range or the task data hold the recursive `mutex`, and the report callables run under it on the
/// thread that changed the date; a receiver may call back into the control on that thread but
/// must not wait for the other one. The playback scalars (state, mode, speed, loop) are single
/// atomic fields read and written without the lock.
///
/// Choices made here:
/// - In mode 3 a task current on both sides is shown (every other reported case shows its
///   geodes); its tint follows the elapsed-day counters.
/// - The update callback reaches the control through a plain (non-counting) reference, so the
///   control is kept alive by its owner, not by its own callback; destroying the control
///   disarms the callback.
/// - A task list that is valid JSON but not an array of objects, and a binding document that is
///   not an object, are rejected like invalid JSON. Binding values that are not integers in the
///   int range are skipped.
class SOLVOEARTHKITS_EXPORT ProgressControl : public osg::Group
{
public:
    /// One task of the schedule; its children are the geodes bound to it. The group is never
    /// attached to the scene: each geode keeps its place in the model and gains the group as an
    /// extra parent.
    class SOLVOEARTHKITS_EXPORT ProgressControlGroup : public osg::Group
    {
    public:
        int isDemolition = 0; // the task type contains "拆"
        std::string wbs;
        std::string name;
        std::string notes;
        std::string dates[4]; // startP, finishP, startA, finishA ("" when unknown)
        bool milestone = false;

        const std::string& startP() const { return dates[0]; }
        const std::string& finishP() const { return dates[1]; }
        const std::string& startA() const { return dates[2]; }
        const std::string& finishA() const { return dates[3]; }

    protected:
        ~ProgressControlGroup() override = default;
    };

    /// The update callback that drives playback: calls its callable each update traversal and
    /// skips the subgraph's traversal for a frame when the callable answers false.
    class SOLVOEARTHKITS_EXPORT TimerCallback : public osg::NodeCallback
    {
    public:
        void operator()(osg::Node* node, osg::NodeVisitor* nv) override;

        std::function<bool()> callable;

    protected:
        ~TimerCallback() override = default;
    };

    using TaskMap = std::map<std::string, osg::ref_ptr<ProgressControlGroup>, SolvoEarthUtil::WbsLess>;
    /// Seconds on a steady clock; tests substitute a manual one.
    using Clock = std::function<double()>;

    /// Builds a simulation over `root` from a task list (a JSON array of task objects) and a
    /// binding document (a JSON object from WBS code to the element ids of its geometry).
    /// `flags` selects the dates read: 1 planned, 2 actual, 3 both. The last argument is unused.
    /// Gives the control without a counted reference (the caller takes the first), or null for a
    /// null root or a rejected document. Shows the range end in mode 1 before returning.
    static ProgressControl* create(osg::Node* root, const std::string& tasks, const std::string& binding, int flags,
                                   bool unused = false);

    /// Re-reads name, notes, milestone and the dates selected by `flags` of the existing tasks
    /// from a task list; a missing date key clears that date. No task is added or removed and
    /// nothing is redisplayed. False when the document is rejected.
    bool loadTasks(const std::string& tasks, int flags);

    /// Earliest start and latest finish over the planned (flags bit 1) and/or actual (bit 2)
    /// dates; "" for either when no task gives one. Takes no lock: a caller off the playback
    /// thread holds `mutex` around it.
    void getRange(std::string& start, std::string& end, int flags);

    /// Sets the range (swapped when given backwards) and shows its end date.
    void setRange(const std::string& start, const std::string& end);

    /// Sets the simulated date (not validated), restyles every task and sends the reports.
    void setToday(const std::string& date);
    std::string getToday();

    /// Playback: start() begins at the range start (shown at the first step); pause(true/false)
    /// holds and resumes without counting the paused time; stop() ends playback and keeps the
    /// date shown.
    void start();
    void pause(bool paused);
    void stop();
    /// 0 stopped, 1 playing, 2 paused.
    int getState() const { return state; }

    /// 1 plan, 2 actual, 3 plan against actual; shows at the next date change.
    void setMode(int value) { mode = value; }
    int getMode() const { return mode; }
    /// Simulated days per real second; values not above 0 are ignored.
    void setSpeed(double daysPerSecond);
    double getSpeed() const { return speed; }
    void setLoop(bool value) { loop = value; }
    bool getLoop() const { return loop; }

    /// Opacity of every task's geometry, clamped into [0, 1].
    void setAllAlpha(float alpha);
    /// Opacity of the first task whose WBS code equals `wbs` byte for byte; nothing when none.
    void setChildAlpha(const std::string& wbs, float alpha);

    /// The schedule, ordered by WBS code. Read it under `mutex` off the playback thread.
    const TaskMap& getTasks() const { return tasks; }

    /// Replaces the time source of playback (osg::Timer by default). Call before playback starts.
    void setClock(Clock clock);

    /// Tint programs are shared per style by default. Without sharing every tinted geode gets a
    /// program of its own at each date change; kept to measure what sharing saves.
    void setShareTintPrograms(bool share);

    /// Reports of each date change, called under `mutex` on the thread that changed the date.
    std::function<void(const std::string text)> onTodayText;
    std::function<void(const std::string text)> onNotesText;
    std::function<void(const std::string today, const std::string planCurrent, const std::string actualCurrent)>
        onDateChanged;

    /// Guards `today`, the range and the task data.
    std::recursive_mutex mutex;

protected:
    /// One playback step; false asks the update callback to skip the subgraph this frame.
    bool onFrame();

private:
    ProgressControl();
    ~ProgressControl() override;

    double now() const;

    osg::ref_ptr<TimerCallback> timerCallback;
    TaskMap tasks;
    std::atomic<int> state{0};
    std::atomic<int> mode{1};
    std::atomic<bool> loop{false};
    std::atomic<double> lastStepTime{0.0};
    std::atomic<double> pauseTime{0.0};
    std::atomic<double> speed{10.0};
    std::string rangeStart;
    std::string rangeEnd;
    std::string today;
    Clock _clock;
    osg::ref_ptr<SolvoEarthUtil::TintPrograms> _tintPrograms;
};
