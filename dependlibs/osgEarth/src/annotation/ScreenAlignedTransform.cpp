#include "ScreenAlignedTransform.h"

#include <osg/CullStack>
#include <osg/Viewport>

#include <cmath>

namespace osgEarth {
namespace Annotation {

ScreenAlignedTransform::ScreenAlignedTransform()
{
    // The bound is in pixels, which means nothing in world units: small-feature and frustum culling of it would
    // drop markers seen from afar.
    setCullingActive(false);
}

bool ScreenAlignedTransform::computeLocalToWorldMatrix(osg::Matrix& matrix, osg::NodeVisitor* nv) const
{
    osg::CullStack* cull = nv ? nv->asCullStack() : nullptr;
    if (!cull || !cull->getProjectionMatrix() || !cull->getViewport())
    {
        return true;
    }
    const osg::Vec3d eye = osg::Vec3d(0.0, 0.0, 0.0) * matrix;
    const osg::Matrix& projection = *cull->getProjectionMatrix();
    const osg::Viewport& viewport = *cull->getViewport();
    // One pixel spans 2 / (P00 * width) in normalised device units, times the clip w (the depth for a
    // perspective projection, 1 for an orthographic one) back in eye units.
    const double w = std::fabs((osg::Vec4d(eye, 1.0) * projection).w());
    if (w <= 0.0 || projection(0, 0) == 0.0 || projection(1, 1) == 0.0 || viewport.width() <= 0.0 ||
        viewport.height() <= 0.0)
    {
        return true;
    }
    const double sx = 2.0 * w / (projection(0, 0) * viewport.width());
    const double sy = 2.0 * w / (projection(1, 1) * viewport.height());
    matrix = osg::Matrix::scale(sx, sy, 1.0) * osg::Matrix::translate(eye);
    return true;
}

bool ScreenAlignedTransform::computeWorldToLocalMatrix(osg::Matrix&, osg::NodeVisitor*) const
{
    // Only culling gives this transform a scale; the traversals that ask for the inverse see it as identity.
    return true;
}

} // namespace Annotation
} // namespace osgEarth
