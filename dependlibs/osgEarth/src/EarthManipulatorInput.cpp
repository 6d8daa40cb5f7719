// Input: the default bindings, and turning mouse, wheel and key events into pan, rotate, zoom, home and goto.
#include <osgEarthUtil/EarthManipulator>

#include <osg/Camera>
#include <osg/View>

#include <algorithm>
#include <cmath>

using namespace osgEarth;
using namespace osgEarth::Util;

namespace {

using GEA = osgGA::GUIEventAdapter;

// Steps of one key press or wheel notch, as fractions of the range (pan, zoom) or of the screen (rotate).
constexpr double kKeyStep = 0.05;
constexpr double kScrollZoomStep = 0.2;
// Continuous actions apply this share of the pointer's offset from the press on every frame.
constexpr double kContinuousRate = 0.05;

} // namespace

EarthManipulator::EarthManipulator() : _settings(new Settings)
{
    configureDefaultBindings(*_settings);
}

void EarthManipulator::configureDefaultBindings(Settings& settings) const
{
    settings.bindMouse(ACTION_PAN, GEA::LEFT_MOUSE_BUTTON);
    settings.bindMouse(ACTION_ROTATE, GEA::MIDDLE_MOUSE_BUTTON);
    settings.bindMouse(ACTION_ROTATE, GEA::LEFT_MOUSE_BUTTON | GEA::RIGHT_MOUSE_BUTTON);
    settings.bindMouse(ACTION_ZOOM, GEA::RIGHT_MOUSE_BUTTON, 0, {ActionOption(OPTION_CONTINUOUS, true)});
    settings.bindScroll(ACTION_ZOOM_IN, GEA::SCROLL_DOWN);
    settings.bindScroll(ACTION_ZOOM_OUT, GEA::SCROLL_UP);
    settings.bindKey(ACTION_PAN_LEFT, GEA::KEY_Left);
    settings.bindKey(ACTION_PAN_RIGHT, GEA::KEY_Right);
    settings.bindKey(ACTION_PAN_UP, GEA::KEY_Up);
    settings.bindKey(ACTION_PAN_DOWN, GEA::KEY_Down);
    settings.bindKey(ACTION_HOME, GEA::KEY_Space);

    const ActionOptions closer = {ActionOption(OPTION_GOTO_RANGE_FACTOR, 0.4), ActionOption(OPTION_DURATION, 1.0)};
    const ActionOptions farther = {ActionOption(OPTION_GOTO_RANGE_FACTOR, 2.5), ActionOption(OPTION_DURATION, 1.0)};
    settings.bindMouseDoubleClick(ACTION_GOTO, GEA::LEFT_MOUSE_BUTTON, 0, closer);
    settings.bindMouseDoubleClick(ACTION_GOTO, GEA::RIGHT_MOUSE_BUTTON, 0, farther);
    settings.bindMouseDoubleClick(ACTION_GOTO, GEA::LEFT_MOUSE_BUTTON, GEA::MODKEY_CTRL, farther);
}

void EarthManipulator::applySettings(Settings* settings)
{
    if (settings)
        _settings = settings;
    else
    {
        _settings = new Settings;
        configureDefaultBindings(*_settings);
    }
    _dragging = false;
    _continuousAction.reset();

    // Only the limits are enforced here: the rest of the view stays as the user left it.
    FocalState state = _state;
    state.pitch = std::clamp(state.pitch, _settings->getMinPitch(), _settings->getMaxPitch());
    state.range = std::clamp(state.range, _settings->getMinDistance(), _settings->getMaxDistance());
    if (state.pitch != _state.pitch || state.range != _state.range)
        applyState(state);
}

bool EarthManipulator::handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa)
{
    if (!_established)
        establish();

    switch (ea.getEventType())
    {
    case GEA::FRAME:
    {
        const bool flying = updateFlight(ea.getTime());
        const bool continuous = _dragging && _continuousAction && _established;
        if (continuous)
            handleAction(*_continuousAction, _continuousDx * kContinuousRate, _continuousDy * kContinuousRate, ea, aa);
        aa.requestContinuousUpdate(flying || continuous);
        return false;
    }
    case GEA::PUSH:
    case GEA::DOUBLECLICK:
        _dragging = true;
        _lastX = _pressX = ea.getXnormalized();
        _lastY = _pressY = ea.getYnormalized();
        _continuousAction.reset();
        if (ea.getEventType() == GEA::DOUBLECLICK && _established)
            return handleAction(_settings->getAction(EVENT_MOUSE_DOUBLE_CLICK, ea.getButtonMask(), ea.getModKeyMask()),
                                0.0, 0.0, ea, aa);
        return false;
    case GEA::RELEASE:
        _dragging = ea.getButtonMask() != 0;
        _continuousAction.reset();
        _lastX = ea.getXnormalized();
        _lastY = ea.getYnormalized();
        return false;
    case GEA::DRAG:
    {
        const double x = ea.getXnormalized();
        const double y = ea.getYnormalized();
        const double dx = x - _lastX;
        const double dy = y - _lastY;
        _lastX = x;
        _lastY = y;
        if (!_established)
            return false;
        const Action action = _settings->getAction(EVENT_MOUSE_DRAG, ea.getButtonMask(), ea.getModKeyMask());
        if (action.getBoolOption(OPTION_CONTINUOUS, false))
        {
            _continuousAction = action;
            _continuousDx = x - _pressX;
            _continuousDy = y - _pressY;
            aa.requestContinuousUpdate(true);
            return true;
        }
        _continuousAction.reset();
        return handleAction(action, dx, dy, ea, aa);
    }
    case GEA::KEYDOWN:
        if (!_established)
            return false;
        return handleAction(_settings->getAction(EVENT_KEY_DOWN, ea.getKey(), ea.getModKeyMask()), 0.0, 0.0, ea, aa);
    case GEA::SCROLL:
        if (!_established)
            return false;
        return handleAction(_settings->getAction(EVENT_SCROLL, ea.getScrollingMotion(), ea.getModKeyMask()), 0.0, 0.0,
                            ea, aa);
    default: return false;
    }
}

bool EarthManipulator::handleAction(const Action& action, double dx, double dy, const osgGA::GUIEventAdapter& ea,
                                    osgGA::GUIActionAdapter& aa)
{
    const double scaleX = action.getDoubleOption(OPTION_SCALE_X, 1.0);
    const double scaleY = action.getDoubleOption(OPTION_SCALE_Y, 1.0);
    const double mouse = _settings->getMouseSensitivity();
    const double keys = _settings->getKeyboardSensitivity();
    const double wheel = _settings->getScrollSensitivity();
    const double step = (ea.getEventType() == GEA::SCROLL ? wheel : keys) * kKeyStep;

    switch (action.type())
    {
    case ACTION_NULL: return false;
    case ACTION_HOME: home(ea, aa); return true;
    case ACTION_GOTO: return gotoPoint(action, ea, aa);
    // Dragging moves the ground with the pointer, so the focal point goes the other way.
    case ACTION_PAN:
    case ACTION_EARTH_DRAG: pan(-dx * scaleX * mouse, -dy * scaleY * mouse); break;
    case ACTION_PAN_LEFT: pan(-step * scaleX, 0.0); break;
    case ACTION_PAN_RIGHT: pan(step * scaleX, 0.0); break;
    case ACTION_PAN_UP: pan(0.0, step * scaleY); break;
    case ACTION_PAN_DOWN: pan(0.0, -step * scaleY); break;
    case ACTION_ROTATE:
    {
        double rx = dx * scaleX * mouse;
        double ry = dy * scaleY * mouse;
        if (action.getBoolOption(OPTION_SINGLE_AXIS, _settings->getSingleAxisRotation()))
            (std::fabs(rx) > std::fabs(ry) ? ry : rx) = 0.0;
        rotate(rx, ry);
        break;
    }
    case ACTION_ROTATE_LEFT: rotate(-step * scaleX, 0.0); break;
    case ACTION_ROTATE_RIGHT: rotate(step * scaleX, 0.0); break;
    case ACTION_ROTATE_UP: rotate(0.0, step * scaleY); break;
    case ACTION_ROTATE_DOWN: rotate(0.0, -step * scaleY); break;
    case ACTION_ZOOM: zoom(dy * scaleY * mouse); break;
    case ACTION_ZOOM_IN: zoom(-kScrollZoomStep * scaleY * (ea.getEventType() == GEA::SCROLL ? wheel : keys)); break;
    case ACTION_ZOOM_OUT: zoom(kScrollZoomStep * scaleY * (ea.getEventType() == GEA::SCROLL ? wheel : keys)); break;
    }
    aa.requestRedraw();
    return true;
}

void EarthManipulator::pan(double dx, double dy)
{
    // Screen right and screen up on the ground, scaled by the range so the ground speed matches the view.
    const double h = osg::DegreesToRadians(_state.heading);
    const osg::Vec3d right(std::cos(h), -std::sin(h), 0.0);
    const osg::Vec3d forward(std::sin(h), std::cos(h), 0.0);
    const osg::Vec3d move = (right * dx + forward * dy) * _state.range;
    const osg::Vec3d world = move * localFrame(_state.focal);

    FocalState state = _state;
    if (!worldToFocal(world, state.focal))
        return;
    // The focal point keeps its height: panning slides over the map, it never climbs.
    state.focal.z() = _state.focal.z();
    applyState(clamped(state));
}

void EarthManipulator::rotate(double dx, double dy)
{
    // The scene turns with the pointer: dragging right turns the view to the left of the current heading.
    FocalState state = _state;
    state.heading -= dx * 180.0;
    state.pitch += dy * 90.0;
    applyState(clamped(state));
}

void EarthManipulator::zoom(double dy)
{
    FocalState state = _state;
    state.range *= std::max(1.0 + dy, 0.1);
    applyState(clamped(state));
}

bool EarthManipulator::gotoPoint(const Action& action, const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa)
{
    osg::View* view = aa.asView();
    const osg::Camera* camera = view ? view->getCamera() : nullptr;
    if (!camera)
        return false;

    // The pointer's ray through the view volume, from the near to the far plane.
    const osg::Matrixd inverse = osg::Matrixd::inverse(camera->getViewMatrix() * camera->getProjectionMatrix());
    const osg::Vec3d nearPoint = osg::Vec3d(ea.getXnormalized(), ea.getYnormalized(), -1.0) * inverse;
    const osg::Vec3d farPoint = osg::Vec3d(ea.getXnormalized(), ea.getYnormalized(), 1.0) * inverse;
    osg::Vec3d hit;
    osg::Vec3d focal;
    if (!intersectScene(nearPoint, farPoint, hit) || !worldToFocal(hit, focal))
        return false;

    const double factor = action.getDoubleOption(OPTION_GOTO_RANGE_FACTOR, 1.0);
    const double duration = action.getDoubleOption(OPTION_DURATION, 1.0);
    setViewpoint(Viewpoint(focal, _state.heading, _state.pitch, _state.range * factor, focalSRS()), duration);
    aa.requestRedraw();
    return true;
}
