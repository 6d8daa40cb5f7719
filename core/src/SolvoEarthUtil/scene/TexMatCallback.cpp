#include <SolvoEarthUtil/scene/TexMatCallback.h>

#include <osgUtil/CullVisitor>

namespace SolvoEarthUtil {

TexMatCallback::TexMatCallback(osg::TexMat& texMat)
    : _texMat(&texMat), _rotation(osg::Matrix::rotate(static_cast<float>(osg::PI * 1.5), osg::Vec3(1.0f, 0.0f, 0.0f)))
{}

void TexMatCallback::operator()(osg::Node* node, osg::NodeVisitor* nv)
{
    osgUtil::CullVisitor* cv = dynamic_cast<osgUtil::CullVisitor*>(nv);
    osg::ref_ptr<osg::TexMat> texMat;
    if (cv && _texMat.lock(texMat))
    {
        const osg::Quat q = cv->getModelViewMatrix()->getRotate();
        texMat->setMatrix(osg::Matrix::rotate(q.inverse()) * _rotation);
    }
    traverse(node, nv);
}

} // namespace SolvoEarthUtil
