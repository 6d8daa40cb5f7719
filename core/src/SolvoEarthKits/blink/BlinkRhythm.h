#pragma once

#include <osg/Timer>

#include <functional>
#include <utility>

/// The rhythm the blink callbacks share: a phase that flips when more than half a second has passed since the last
/// flip, timed by a timer of its own or by a substitute clock. A copy gets its own timer started at the same tick
/// and continues the same rhythm.
class BlinkRhythm
{
public:
    /// Seconds since some fixed start; tests and hosts may substitute their own.
    using Clock = std::function<double()>;

    BlinkRhythm() { _timer.setStartTick(); }

    /// Flips the phase when its half second is over; true when it flipped now.
    bool advance()
    {
        const double time = _clock ? _clock() : _timer.time_s();
        if (!(time > _lastSwitch + kHalfPeriod))
            return false;
        _lastSwitch = time;
        _phase = !_phase;
        return true;
    }

    /// False until the first flip, then alternating.
    bool phase() const { return _phase; }

    /// Replaces the time source; an empty clock restores the timer. Call on the thread that advances the rhythm.
    void setClock(Clock clock) { _clock = std::move(clock); }

private:
    static constexpr double kHalfPeriod = 0.5;

    osg::Timer _timer;
    Clock _clock;
    double _lastSwitch = 0.0;
    bool _phase = false;
};
