// Viewpoints: applied at once, or flown to over FRAME events, and the home viewpoint.
#include <osgEarthUtil/EarthManipulator>

#include <osg/Notify>

#include <algorithm>
#include <cmath>

using namespace osgEarth;
using namespace osgEarth::Util;

namespace {

constexpr double kEarthEquatorialRadius = 6378137.0;

double wrappedDelta(double from, double to)
{
    double delta = std::fmod(to - from, 360.0);
    if (delta > 180.0)
        delta -= 360.0;
    else if (delta < -180.0)
        delta += 360.0;
    return delta;
}

// Starts and ends gently so the camera neither jumps away nor slams into the target.
double smoothStep(double t)
{
    return t * t * (3.0 - 2.0 * t);
}

bool usableViewpoint(const Viewpoint& vp)
{
    return vp.isValid() && std::isfinite(vp.x()) && std::isfinite(vp.y()) && std::isfinite(vp.z()) &&
           std::isfinite(vp.getHeading()) && std::isfinite(vp.getPitch()) && std::isfinite(vp.getRange());
}

} // namespace

EarthManipulator::~EarthManipulator() = default;

void EarthManipulator::setViewpoint(const Viewpoint& vp, double duration_s)
{
    cancelViewpointTransition();
    if (!usableViewpoint(vp))
    {
        OSG_WARN << "[EarthManipulator] ignoring an invalid viewpoint: " << vp.toString() << std::endl;
        return;
    }
    if (!std::isfinite(duration_s))
        duration_s = 0.0;
    if (!_established)
    {
        _pendingViewpoint = vp;
        _pendingDuration = duration_s;
        return;
    }
    setViewpointNow(vp, duration_s);
}

void EarthManipulator::setViewpointNow(const Viewpoint& vp, double duration_s)
{
    FocalState target;
    if (!toFocalCoordinates(vp, target.focal))
    {
        OSG_WARN << "[EarthManipulator] cannot bring the viewpoint into the map's SRS: " << vp.toString() << std::endl;
        return;
    }
    target.heading = vp.getHeading();
    target.pitch = vp.getPitch();
    target.range = vp.getRange();
    target = clamped(target);

    if (duration_s <= 0.0)
    {
        _flight.reset();
        applyState(target);
        return;
    }

    Flight flight;
    flight.from = _state;
    flight.to = target;
    flight.focalDelta = target.focal - _state.focal;
    if (_geocentric)
        flight.focalDelta.x() = wrappedDelta(_state.focal.x(), target.focal.x());
    flight.headingDelta = wrappedDelta(_state.heading, target.heading);

    // Far hops rise above both ends so the ground stays in view; the arc is what the camera's own height change
    // does not already provide.
    const double distance = surfaceDistance(_state.focal, target.focal);
    if (_settings->getArcViewpointTransitions())
    {
        const double h0 = _state.range * std::sin(osg::DegreesToRadians(-_state.pitch));
        const double h1 = target.range * std::sin(osg::DegreesToRadians(-target.pitch));
        flight.arcHeight = std::max(distance - std::fabs(h1 - h0), 0.0);
    }

    flight.duration = duration_s;
    if (_settings->getAutoViewpointDurationEnabled())
    {
        double radius = kEarthEquatorialRadius;
        osg::ref_ptr<osg::CoordinateSystemNode> csn;
        if (_csn.lock(csn) && csn->getEllipsoidModel())
            radius = csn->getEllipsoidModel()->getRadiusEquator();
        const double ratio = smoothStep(std::min(distance / radius, 1.0));
        const double minSeconds = _settings->getAutoViewpointDurationMinSeconds();
        const double maxSeconds = _settings->getAutoViewpointDurationMaxSeconds();
        flight.duration = std::max(minSeconds + ratio * (maxSeconds - minSeconds), 1e-3);
    }
    _flight = flight;
}

bool EarthManipulator::updateFlight(double time)
{
    if (!_flight)
        return false;
    Flight& flight = *_flight;
    if (!flight.startTime)
        flight.startTime = time;
    const double t = (time - *flight.startTime) / flight.duration;
    if (!(t < 1.0))
    {
        // The last frame lands exactly on the target, free of any rounding of the interpolation.
        const FocalState target = flight.to;
        _flight.reset();
        applyState(target);
        return false;
    }

    const double s = smoothStep(std::max(t, 0.0));
    FocalState state;
    state.focal = flight.from.focal + flight.focalDelta * s;
    state.heading = flight.from.heading + flight.headingDelta * s;
    state.pitch = flight.from.pitch + (flight.to.pitch - flight.from.pitch) * s;
    state.range =
        flight.from.range + (flight.to.range - flight.from.range) * s + std::sin(osg::PI * s) * flight.arcHeight;
    if (_geocentric)
        state.focal.x() = wrappedDelta(0.0, state.focal.x());
    state.heading = wrappedDelta(0.0, state.heading);
    applyState(state);
    return true;
}

void EarthManipulator::cancelViewpointTransition()
{
    _flight.reset();
}

void EarthManipulator::setHomeViewpoint(const Viewpoint& vp, double duration_s)
{
    if (!usableViewpoint(vp))
    {
        OSG_WARN << "[EarthManipulator] ignoring an invalid home viewpoint" << std::endl;
        return;
    }
    _homeViewpoint = vp;
    _homeDuration = std::isfinite(duration_s) ? duration_s : 0.0;
    _homeChosenByScene = false;
}

void EarthManipulator::home(double)
{
    if (_homeViewpoint)
        setViewpoint(*_homeViewpoint, _homeDuration);
}

void EarthManipulator::home(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa)
{
    home(ea.getTime());
    aa.requestRedraw();
}
