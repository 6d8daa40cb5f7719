#pragma once

#include <osg/Transform>

namespace osgEarth {
namespace Annotation {

/// Turns its children's units into screen pixels around its origin: during culling the children face the viewer
/// and one local unit spans exactly one pixel of the current viewport, whatever the distance. Other traversals
/// (bounds, intersections) see an identity transform.
class ScreenAlignedTransform : public osg::Transform
{
public:
    ScreenAlignedTransform();

    bool computeLocalToWorldMatrix(osg::Matrix& matrix, osg::NodeVisitor* nv) const override;
    bool computeWorldToLocalMatrix(osg::Matrix& matrix, osg::NodeVisitor* nv) const override;

protected:
    ~ScreenAlignedTransform() override = default;
};

} // namespace Annotation
} // namespace osgEarth
