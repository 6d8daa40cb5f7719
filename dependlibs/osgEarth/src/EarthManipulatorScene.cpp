// Attaching a scene: finding the map's coordinate system node, learning the map SRS from it, choosing the home
// viewpoint and applying the viewpoint that waited for the scene.
#include <osgEarthUtil/EarthManipulator>

#include <osg/NodeVisitor>
#include <osg/Notify>

using namespace osgEarth;
using namespace osgEarth::Util;

namespace {

// Finds the first coordinate system node at or below the visited node.
class FindCoordinateSystemNode : public osg::NodeVisitor
{
public:
    FindCoordinateSystemNode() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    using osg::NodeVisitor::apply;
    void apply(osg::Node& node) override
    {
        if (!found)
            traverse(node);
    }
    void apply(osg::CoordinateSystemNode& node) override
    {
        if (!found)
            found = &node;
    }

    osg::CoordinateSystemNode* found = nullptr;
};

osg::CoordinateSystemNode* findCoordinateSystemNode(osg::Node& node)
{
    // The nearest enclosing one first: a manipulator handed a part of the map still works on the whole map.
    for (const osg::NodePath& path : node.getParentalNodePaths())
        for (auto it = path.rbegin(); it != path.rend(); ++it)
            if (auto* csn = dynamic_cast<osg::CoordinateSystemNode*>(*it))
                return csn;
    FindCoordinateSystemNode finder;
    node.accept(finder);
    return finder.found;
}

} // namespace

void EarthManipulator::setNode(osg::Node* node)
{
    // The viewer hands its scene over again whenever it changes; the first live scene stays until cleared.
    if (node && _node.valid())
        return;
    _node = node;
    resetState();
    if (node)
        establish();
}

const osg::Node* EarthManipulator::getNode() const
{
    return _node.get();
}

osg::Node* EarthManipulator::getNode()
{
    return _node.get();
}

void EarthManipulator::resetState()
{
    _established = false;
    _csn = nullptr;
    _mapSRS = nullptr;
    _geocentric = false;
    _flight.reset();
    _dragging = false;
    _continuousAction.reset();
    _state = FocalState();
    if (_homeChosenByScene)
    {
        _homeViewpoint.reset();
        _homeChosenByScene = false;
    }
}

bool EarthManipulator::establish()
{
    if (_established)
        return true;
    osg::ref_ptr<osg::Node> node;
    if (!_node.lock(node))
        return false;
    osg::CoordinateSystemNode* csn = findCoordinateSystemNode(*node);
    if (!csn)
        return false;

    const osg::EllipsoidModel* ellipsoid = csn->getEllipsoidModel();
    osg::ref_ptr<const SpatialReference> srs;
    if (csn->getFormat() == "INIT")
        srs = SpatialReference::create(csn->getCoordinateSystem());
    if (!srs.valid() && ellipsoid)
        srs = SpatialReference::create("wgs84");
    if (!srs.valid())
    {
        OSG_WARN << "[EarthManipulator] the scene's coordinate system \"" << csn->getCoordinateSystem()
                 << "\" is not understood; the camera stays detached" << std::endl;
        return false;
    }

    _csn = csn;
    _mapSRS = srs;
    _geocentric = ellipsoid != nullptr;
    _established = true;

    if (!_homeViewpoint && _pendingViewpoint)
    {
        _homeViewpoint = _pendingViewpoint;
        _homeDuration = _pendingDuration;
    }
    chooseHomeViewpoint();

    if (_pendingViewpoint)
    {
        const Viewpoint pending = *_pendingViewpoint;
        _pendingViewpoint.reset();
        setViewpointNow(pending, _pendingDuration);
    }
    else if (_homeViewpoint)
        setViewpointNow(*_homeViewpoint, _homeDuration);
    return true;
}

void EarthManipulator::chooseHomeViewpoint()
{
    osg::ref_ptr<osg::CoordinateSystemNode> csn;
    if (_homeViewpoint || !_established || !_csn.lock(csn))
        return;
    if (const osg::EllipsoidModel* ellipsoid = csn->getEllipsoidModel())
        _homeViewpoint = Viewpoint(-90.0, 0.0, 0.0, 0.0, -89.0, 3.0 * ellipsoid->getRadiusEquator(), focalSRS());
    else
    {
        const osg::BoundingSphere bound = csn->getBound();
        const double range = bound.valid() ? 2.0 * bound.radius() : 1.0;
        _homeViewpoint = Viewpoint(osg::Vec3d(bound.center()), 0.0, -90.0, range, focalSRS());
    }
    _homeDuration = 0.0;
    _homeChosenByScene = true;
}

void EarthManipulator::computeHomePosition(const osg::Camera*, bool)
{
    chooseHomeViewpoint();
}
