// Playback: the date advances by whole days as real time passes, at `speed` days per second.
#include <SolvoEarthKits/progress/ProgressControl.h>

#include <SolvoEarthKits/progress/ProgressDates.h>

#include <climits>
#include <cmath>

using namespace SolvoEarthUtil;

namespace {

// Days elapsed since the last step, truncated toward zero and kept inside the int range.
int wholeDays(double days)
{
    if (!(std::fabs(days) < static_cast<double>(INT_MAX)))
        return days < 0.0 ? INT_MIN : INT_MAX;
    return static_cast<int>(days);
}

} // namespace

void ProgressControl::setRange(const std::string& start, const std::string& end)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (end < start)
    {
        setRange(end, start);
        return;
    }
    rangeStart = start;
    rangeEnd = end;
    setToday(rangeEnd);
}

std::string ProgressControl::getToday()
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return today;
}

void ProgressControl::start()
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    lastStepTime = now();
    today = rangeStart;
    state = 1;
}

void ProgressControl::pause(bool paused)
{
    const int current = state;
    if (current == 0 || paused == (current == 2))
        return;
    if (paused)
    {
        pauseTime = now();
        state = 2;
    }
    else
    {
        // The paused interval must not count toward the next step.
        lastStepTime = lastStepTime + (now() - pauseTime);
        state = 1;
    }
}

void ProgressControl::stop()
{
    state = 0;
}

void ProgressControl::setSpeed(double daysPerSecond)
{
    if (daysPerSecond > 0.0)
        speed = daysPerSecond;
}

bool ProgressControl::onFrame()
{
    if (state != 1)
        return true;
    const double time = now();
    const int days = wholeDays((time - lastStepTime) * speed);
    if (days == 0)
        return true;

    std::lock_guard<std::recursive_mutex> lock(mutex);
    // Any fraction of a day is dropped with the step.
    lastStepTime = time;
    setToday(addDays(today, days));
    if (today > rangeEnd)
    {
        if (loop)
            start();
        else
            state = 0;
        return false;
    }
    return true;
}
