#include <osgEarthSymbology/Geometry>

namespace osgEarth::Symbology {

osg::BoundingBoxd Geometry::getBounds() const
{
    osg::BoundingBoxd box;
    for (const osg::Vec3d& point : _points)
    {
        box.expandBy(point);
    }
    return box;
}

bool Polygon::isValid() const
{
    if (!Ring::isValid())
    {
        return false;
    }
    for (const osg::ref_ptr<Ring>& hole : _holes)
    {
        if (!hole || !hole->isValid())
        {
            return false;
        }
    }
    return true;
}

unsigned Polygon::getTotalPointCount() const
{
    unsigned count = Ring::getTotalPointCount();
    for (const osg::ref_ptr<Ring>& hole : _holes)
    {
        count += hole ? hole->getTotalPointCount() : 0u;
    }
    return count;
}

bool MultiGeometry::isValid() const
{
    if (_parts.empty())
    {
        return false;
    }
    for (const osg::ref_ptr<Geometry>& part : _parts)
    {
        if (!part || !part->isValid())
        {
            return false;
        }
    }
    return true;
}

unsigned MultiGeometry::getTotalPointCount() const
{
    unsigned count = 0;
    for (const osg::ref_ptr<Geometry>& part : _parts)
    {
        count += part ? part->getTotalPointCount() : 0u;
    }
    return count;
}

osg::BoundingBoxd MultiGeometry::getBounds() const
{
    osg::BoundingBoxd box;
    for (const osg::ref_ptr<Geometry>& part : _parts)
    {
        if (part)
        {
            box.expandBy(part->getBounds());
        }
    }
    return box;
}

} // namespace osgEarth::Symbology
