#include <osgEarthUtil/EarthManipulator>

#include <algorithm>
#include <cfloat>
#include <cmath>

using namespace osgEarth::Util;

namespace {

// The pitch may never reach straight down or up: the heading would become undefined there.
constexpr double kLowestPitch = -89.9;
constexpr double kHighestPitch = 89.0;

// Left/right variants of a modifier act as one key, and lock states are not part of a binding.
int normalizedModKeys(int mask)
{
    using GEA = osgGA::GUIEventAdapter;
    int out = 0;
    if (mask & GEA::MODKEY_SHIFT)
        out |= GEA::MODKEY_SHIFT;
    if (mask & GEA::MODKEY_CTRL)
        out |= GEA::MODKEY_CTRL;
    if (mask & GEA::MODKEY_ALT)
        out |= GEA::MODKEY_ALT;
    if (mask & GEA::MODKEY_META)
        out |= GEA::MODKEY_META;
    if (mask & GEA::MODKEY_SUPER)
        out |= GEA::MODKEY_SUPER;
    if (mask & GEA::MODKEY_HYPER)
        out |= GEA::MODKEY_HYPER;
    return out;
}

bool usable(double value)
{
    return std::isfinite(value);
}

} // namespace

bool EarthManipulator::Action::getBoolOption(int option, bool fallback) const
{
    for (const ActionOption& o : _options)
        if (o.option() == option)
            return o.boolValue();
    return fallback;
}

double EarthManipulator::Action::getDoubleOption(int option, double fallback) const
{
    for (const ActionOption& o : _options)
        if (o.option() == option)
            return o.doubleValue();
    return fallback;
}

EarthManipulator::Settings::Settings() : _maxDistance(DBL_MAX)
{}

EarthManipulator::Settings::Settings(const Settings& other) : osg::Referenced(), _maxDistance(other._maxDistance)
{
    _minPitch = other._minPitch;
    _maxPitch = other._maxPitch;
    _minDistance = other._minDistance;
    _maxXOffset = other._maxXOffset;
    _maxYOffset = other._maxYOffset;
    _mouseSensitivity = other._mouseSensitivity;
    _keyboardSensitivity = other._keyboardSensitivity;
    _scrollSensitivity = other._scrollSensitivity;
    _touchSensitivity = other._touchSensitivity;
    _singleAxisRotation = other._singleAxisRotation;
    _lockAzimuthWhilePanning = other._lockAzimuthWhilePanning;
    _arcViewpoints = other._arcViewpoints;
    _autoViewpointDuration = other._autoViewpointDuration;
    _minAutoDuration = other._minAutoDuration;
    _maxAutoDuration = other._maxAutoDuration;
    _throwing = other._throwing;
    _throwDecayRate = other._throwDecayRate;
    _tetherMode = other._tetherMode;
    _projection = other._projection;
    _bindings = other._bindings;
}

void EarthManipulator::Settings::setMinMaxPitch(double minPitch, double maxPitch)
{
    if (!usable(minPitch) || !usable(maxPitch))
        return;
    _minPitch = std::clamp(minPitch, kLowestPitch, kHighestPitch);
    // The upper limit is held against the lower limit as the caller gave it; an unreachable upper limit
    // (below the lowest pitch) falls back to the clamped lower one so the range never inverts.
    _maxPitch = std::max(std::min(std::max(maxPitch, minPitch), kHighestPitch), _minPitch);
    dirty();
}

void EarthManipulator::Settings::setMinMaxDistance(double minDistance, double maxDistance)
{
    if (std::isnan(minDistance) || std::isnan(maxDistance) || minDistance < 0.0 || maxDistance < 0.0)
        return;
    _minDistance = std::max(minDistance, 1e-9);
    _maxDistance = std::max(maxDistance, _minDistance);
    dirty();
}

void EarthManipulator::Settings::setMaxOffset(double maxXOffset, double maxYOffset)
{
    if (!usable(maxXOffset) || !usable(maxYOffset))
        return;
    _maxXOffset = std::max(maxXOffset, 0.0);
    _maxYOffset = std::max(maxYOffset, 0.0);
    dirty();
}

void EarthManipulator::Settings::setMouseSensitivity(double value)
{
    if (!usable(value))
        return;
    _mouseSensitivity = value;
    dirty();
}

void EarthManipulator::Settings::setKeyboardSensitivity(double value)
{
    if (!usable(value))
        return;
    _keyboardSensitivity = value;
    dirty();
}

void EarthManipulator::Settings::setScrollSensitivity(double value)
{
    if (!usable(value))
        return;
    _scrollSensitivity = value;
    dirty();
}

void EarthManipulator::Settings::setTouchSensitivity(double value)
{
    if (!usable(value))
        return;
    _touchSensitivity = value;
    dirty();
}

void EarthManipulator::Settings::setSingleAxisRotation(bool value)
{
    _singleAxisRotation = value;
    dirty();
}

void EarthManipulator::Settings::setLockAzimuthWhilePanning(bool value)
{
    _lockAzimuthWhilePanning = value;
    dirty();
}

void EarthManipulator::Settings::setArcViewpointTransitions(bool value)
{
    _arcViewpoints = value;
    dirty();
}

void EarthManipulator::Settings::setAutoViewpointDurationEnabled(bool value)
{
    _autoViewpointDuration = value;
    dirty();
}

void EarthManipulator::Settings::setAutoViewpointDurationLimits(double minSeconds, double maxSeconds)
{
    if (!usable(minSeconds) || !usable(maxSeconds))
        return;
    _minAutoDuration = std::max(minSeconds, 0.0);
    _maxAutoDuration = std::max(maxSeconds, _minAutoDuration);
    dirty();
}

void EarthManipulator::Settings::setThrowingEnabled(bool value)
{
    _throwing = value;
    dirty();
}

void EarthManipulator::Settings::setThrowDecayRate(double value)
{
    if (!usable(value))
        return;
    _throwDecayRate = std::clamp(value, 0.0, 1.0);
    dirty();
}

void EarthManipulator::Settings::setTetherMode(TetherMode mode)
{
    _tetherMode = mode;
    dirty();
}

void EarthManipulator::Settings::setCameraProjection(CameraProjection projection)
{
    _projection = projection;
    dirty();
}

void EarthManipulator::Settings::bind(int eventType, int inputMask, int modKeyMask, ActionType action,
                                      const ActionOptions& options)
{
    _bindings[InputSpec(eventType, inputMask, normalizedModKeys(modKeyMask))] = Action(action, options);
    dirty();
}

void EarthManipulator::Settings::bindMouse(ActionType action, int buttonMask, int modKeyMask,
                                           const ActionOptions& options)
{
    bind(EVENT_MOUSE_DRAG, buttonMask, modKeyMask, action, options);
}

void EarthManipulator::Settings::bindMouseClick(ActionType action, int buttonMask, int modKeyMask,
                                                const ActionOptions& options)
{
    bind(EVENT_MOUSE_CLICK, buttonMask, modKeyMask, action, options);
}

void EarthManipulator::Settings::bindMouseDoubleClick(ActionType action, int buttonMask, int modKeyMask,
                                                      const ActionOptions& options)
{
    bind(EVENT_MOUSE_DOUBLE_CLICK, buttonMask, modKeyMask, action, options);
}

void EarthManipulator::Settings::bindKey(ActionType action, int key, int modKeyMask, const ActionOptions& options)
{
    bind(EVENT_KEY_DOWN, key, modKeyMask, action, options);
}

void EarthManipulator::Settings::bindScroll(ActionType action, int scrollingMotion, int modKeyMask,
                                            const ActionOptions& options)
{
    bind(EVENT_SCROLL, scrollingMotion, modKeyMask, action, options);
}

void EarthManipulator::Settings::bindPinch(ActionType action, const ActionOptions& options)
{
    bind(EVENT_MULTI_PINCH, 0, 0, action, options);
}

void EarthManipulator::Settings::bindTwist(ActionType action, const ActionOptions& options)
{
    bind(EVENT_MULTI_TWIST, 0, 0, action, options);
}

void EarthManipulator::Settings::bindMultiDrag(ActionType action, const ActionOptions& options)
{
    bind(EVENT_MULTI_DRAG, 0, 0, action, options);
}

EarthManipulator::Action EarthManipulator::Settings::getAction(int eventType, int inputMask, int modKeyMask) const
{
    auto it = _bindings.find(InputSpec(eventType, inputMask, normalizedModKeys(modKeyMask)));
    return it == _bindings.end() ? Action() : it->second;
}

void EarthManipulator::Settings::clearBindings()
{
    _bindings.clear();
    dirty();
}
