#include <SolvoEarthUtil/scene/MoveEarthySkyWithEyePointTransform.h>

#include <osgUtil/CullVisitor>

namespace SolvoEarthUtil {

bool MoveEarthySkyWithEyePointTransform::computeLocalToWorldMatrix(osg::Matrix& matrix, osg::NodeVisitor* nv) const
{
    if (osgUtil::CullVisitor* cv = dynamic_cast<osgUtil::CullVisitor*>(nv))
        matrix.preMultTranslate(cv->getEyeLocal());
    return true;
}

bool MoveEarthySkyWithEyePointTransform::computeWorldToLocalMatrix(osg::Matrix& matrix, osg::NodeVisitor* nv) const
{
    if (osgUtil::CullVisitor* cv = dynamic_cast<osgUtil::CullVisitor*>(nv))
        matrix.postMultTranslate(-cv->getEyeLocal());
    return true;
}

} // namespace SolvoEarthUtil
