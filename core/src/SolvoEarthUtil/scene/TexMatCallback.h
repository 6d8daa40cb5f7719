#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/NodeCallback>
#include <osg/observer_ptr>
#include <osg/TexMat>

namespace SolvoEarthUtil {

/// Cull callback of the sky box: turns the cube map against the camera's rotation so the sky
/// stays fixed to the world while the view turns.
class SOLVOEARTHUTIL_EXPORT TexMatCallback : public osg::NodeCallback
{
public:
    /// `texMat` is not owned: the sky box's state set keeps it alive.
    explicit TexMatCallback(osg::TexMat& texMat);

    void operator()(osg::Node* node, osg::NodeVisitor* nv) override;

protected:
    ~TexMatCallback() override = default;

private:
    osg::observer_ptr<osg::TexMat> _texMat;
    const osg::Matrix _rotation; // 270 degrees about X: the cube faces' Y axis is the world's up
};

} // namespace SolvoEarthUtil
