#include <SolvoEarthKits/manipulators/FPMExt.h>

#include <osgEarth/MapNode>
#include <osgEarth/SpatialReference>

#include <osg/CoordinateSystemNode>

FPMExt::FPMExt(osgEarth::MapNode* mapNode) : _mapNode(mapNode)
{}

FPMExt::FPMExt(const FPMExt& other, const osg::CopyOp& copyOp)
    : osg::Object(other, copyOp), osg::Callback(other, copyOp), FPM(other, copyOp), _mapNode(other._mapNode)
{}

FPMExt::~FPMExt() = default;

osgEarth::MapNode* FPMExt::getMapNode() const
{
    return _mapNode.get();
}

osg::Quat FPMExt::frameRotation() const
{
    // Locked, so that the map node cannot go away on the main thread while its ellipsoid is read.
    osg::ref_ptr<osgEarth::MapNode> mapNode;
    if (!_mapNode.lock(mapNode))
        return FPM::frameRotation();
    // World coordinates of a projected map are not earth-centred, so an ellipsoid frame read off them
    // would tilt the view at random; such a map is flat and FPM's own up is already level.
    const osgEarth::SpatialReference* srs = mapNode->getMapSRS();
    const osg::EllipsoidModel* ellipsoid = srs ? srs->getEllipsoid() : nullptr;
    if (!ellipsoid || !mapNode->isGeocentric())
        return FPM::frameRotation();
    osg::Matrixd localToWorld;
    ellipsoid->computeLocalToWorldTransformFromXYZ(_eye.x(), _eye.y(), _eye.z(), localToWorld);
    return localToWorld.getRotate();
}
