#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Transform>

namespace SolvoEarthUtil {

/// Keeps its subtree centred on the eye during culling, so a sky sphere never comes nearer.
class SOLVOEARTHUTIL_EXPORT MoveEarthySkyWithEyePointTransform : public osg::Transform
{
public:
    bool computeLocalToWorldMatrix(osg::Matrix& matrix, osg::NodeVisitor* nv) const override;
    bool computeWorldToLocalMatrix(osg::Matrix& matrix, osg::NodeVisitor* nv) const override;

protected:
    ~MoveEarthySkyWithEyePointTransform() override = default;
};

} // namespace SolvoEarthUtil
