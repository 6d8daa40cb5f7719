// The camera's geometry: where the focal point sits in the world, the local frame around it, and the matrices that
// put the camera `range` metres away at the state's heading and pitch.
#include <osgEarthUtil/EarthManipulator>

#include <osg/Notify>
#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

#include <algorithm>
#include <cmath>

using namespace osgEarth;
using namespace osgEarth::Util;

namespace {

// The camera's view direction and up vector in the east-north-up frame of the focal point.
osg::Vec3d lookDirection(double headingDeg, double pitchDeg)
{
    const double h = osg::DegreesToRadians(headingDeg);
    const double p = osg::DegreesToRadians(pitchDeg);
    return osg::Vec3d(std::sin(h) * std::cos(p), std::cos(h) * std::cos(p), std::sin(p));
}

osg::Vec3d upDirection(double headingDeg, double pitchDeg)
{
    const double h = osg::DegreesToRadians(headingDeg);
    const double p = osg::DegreesToRadians(pitchDeg);
    return osg::Vec3d(-std::sin(h) * std::sin(p), -std::cos(h) * std::sin(p), std::cos(p));
}

double normalizedAngle(double degrees)
{
    double a = std::fmod(degrees + 180.0, 360.0);
    if (a < 0.0)
        a += 360.0;
    return a - 180.0;
}

bool finite(const osg::Vec3d& v)
{
    return std::isfinite(v.x()) && std::isfinite(v.y()) && std::isfinite(v.z());
}

} // namespace

const SpatialReference* EarthManipulator::focalSRS() const
{
    if (!_mapSRS.valid())
        return nullptr;
    // On a globe the focal point is always kept as longitude/latitude/height, whatever the map's own SRS.
    return _geocentric ? _mapSRS->getGeographicSRS() : _mapSRS.get();
}

bool EarthManipulator::toFocalCoordinates(const Viewpoint& vp, osg::Vec3d& out) const
{
    const SpatialReference* target = focalSRS();
    const SpatialReference* source = vp.getSRS() ? vp.getSRS() : target;
    if (!target || !source || source == target || source->isEquivalentTo(target))
    {
        out = vp.getFocalPoint();
        return finite(out);
    }
    osg::Vec3d converted;
    if (!source->transform(vp.getFocalPoint(), target, converted) || !finite(converted))
        return false;
    // Heights stay as given unless the viewpoint is earth-centred and has no height of its own.
    out.set(converted.x(), converted.y(), source->isECEF() ? converted.z() : vp.z());
    return true;
}

bool EarthManipulator::focalToWorld(const osg::Vec3d& focal, osg::Vec3d& world) const
{
    if (_geocentric && focalSRS())
        return focalSRS()->transformToWorld(focal, world);
    world = focal;
    return true;
}

bool EarthManipulator::worldToFocal(const osg::Vec3d& world, osg::Vec3d& focal) const
{
    if (_geocentric && focalSRS())
        return focalSRS()->transformFromWorld(world, focal);
    focal = world;
    return true;
}

osg::Matrixd EarthManipulator::localFrame(const osg::Vec3d& focal) const
{
    osg::Matrixd frame;
    if (_geocentric && focalSRS() && focalSRS()->createLocalToWorld(focal, frame))
        return frame;
    return osg::Matrixd::translate(focal);
}

EarthManipulator::FocalState EarthManipulator::clamped(FocalState state) const
{
    state.pitch = std::clamp(state.pitch, _settings->getMinPitch(), _settings->getMaxPitch());
    state.heading = normalizedAngle(state.heading);
    state.range = std::clamp(state.range, _settings->getMinDistance(), _settings->getMaxDistance());
    if (_geocentric)
    {
        state.focal.x() = normalizedAngle(state.focal.x());
        state.focal.y() = std::clamp(state.focal.y(), -90.0, 90.0);
    }
    return state;
}

void EarthManipulator::applyState(const FocalState& state)
{
    if (!finite(state.focal) || !std::isfinite(state.heading) || !std::isfinite(state.pitch) ||
        !std::isfinite(state.range))
    {
        OSG_WARN << "[EarthManipulator] ignoring a camera state with non-finite values" << std::endl;
        return;
    }
    _state = state;
}

double EarthManipulator::surfaceDistance(const osg::Vec3d& focalA, const osg::Vec3d& focalB) const
{
    if (!_geocentric)
        return std::hypot(focalB.x() - focalA.x(), focalB.y() - focalA.y());
    osg::Vec3d a, b;
    if (!focalToWorld(osg::Vec3d(focalA.x(), focalA.y(), 0.0), a) ||
        !focalToWorld(osg::Vec3d(focalB.x(), focalB.y(), 0.0), b))
        return 0.0;
    return (b - a).length();
}

Viewpoint EarthManipulator::getViewpoint() const
{
    return Viewpoint(_state.focal, _state.heading, _state.pitch, _state.range, _established ? focalSRS() : nullptr);
}

void EarthManipulator::setDistance(double distance)
{
    if (!std::isfinite(distance))
        return;
    _state.range = std::clamp(distance, _settings->getMinDistance(), _settings->getMaxDistance());
}

osg::Matrixd EarthManipulator::getInverseMatrix() const
{
    const osg::Matrixd frame = localFrame(_state.focal);
    const osg::Vec3d center = frame.getTrans();
    const osg::Vec3d look = osg::Matrixd::transform3x3(lookDirection(_state.heading, _state.pitch), frame);
    const osg::Vec3d up = osg::Matrixd::transform3x3(upDirection(_state.heading, _state.pitch), frame);
    return osg::Matrixd::lookAt(center - look * _state.range, center, up);
}

osg::Matrixd EarthManipulator::getMatrix() const
{
    return osg::Matrixd::inverse(getInverseMatrix());
}

bool EarthManipulator::intersectScene(const osg::Vec3d& from, const osg::Vec3d& to, osg::Vec3d& hit) const
{
    osg::ref_ptr<osg::Node> node;
    if (!_node.lock(node))
        return false;
    osg::ref_ptr<osgUtil::LineSegmentIntersector> intersector = new osgUtil::LineSegmentIntersector(from, to);
    osgUtil::IntersectionVisitor visitor(intersector.get());
    node->accept(visitor);
    if (!intersector->containsIntersections())
        return false;
    hit = intersector->getFirstIntersection().getWorldIntersectPoint();
    return true;
}

void EarthManipulator::setByMatrix(const osg::Matrixd& matrix)
{
    const osg::Vec3d eye = matrix.getTrans();
    osg::Vec3d look(-matrix(2, 0), -matrix(2, 1), -matrix(2, 2));
    osg::Vec3d up(matrix(1, 0), matrix(1, 1), matrix(1, 2));
    if (!finite(eye) || look.normalize() == 0.0 || up.normalize() == 0.0)
    {
        OSG_WARN << "[EarthManipulator] setByMatrix: ignoring a degenerate matrix" << std::endl;
        return;
    }
    cancelViewpointTransition();

    // The new focal point is what the camera looks at; with nothing in view it keeps the current range.
    osg::Vec3d center = eye + look * _state.range;
    osg::ref_ptr<osg::Node> node;
    if (_node.lock(node))
    {
        const osg::BoundingSphere bound = node->getBound();
        const double reach = (eye - bound.center()).length() + bound.radius();
        osg::Vec3d hit;
        if (bound.valid() && intersectScene(eye, eye + look * reach, hit))
            center = hit;
    }

    FocalState state = _state;
    if (!worldToFocal(center, state.focal))
        return;
    state.range = (center - eye).length();

    // Heading and pitch in the frame of the new focal point; looking straight down the heading comes from the up
    // vector instead, which then points where the view faces.
    const osg::Matrixd frame = localFrame(state.focal);
    const osg::Vec3d localLook = osg::Matrixd::transform3x3(frame, look);
    const osg::Vec3d localUp = osg::Matrixd::transform3x3(frame, up);
    state.pitch = osg::RadiansToDegrees(std::asin(std::clamp(localLook.z(), -1.0, 1.0)));
    if (std::hypot(localLook.x(), localLook.y()) > 1e-3)
        state.heading = osg::RadiansToDegrees(std::atan2(localLook.x(), localLook.y()));
    else
    {
        const double sign = localLook.z() < 0.0 ? 1.0 : -1.0;
        state.heading = osg::RadiansToDegrees(std::atan2(sign * localUp.x(), sign * localUp.y()));
    }
    applyState(clamped(state));
}

void EarthManipulator::setByInverseMatrix(const osg::Matrixd& matrix)
{
    setByMatrix(osg::Matrixd::inverse(matrix));
}
