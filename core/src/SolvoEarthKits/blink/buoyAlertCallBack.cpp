#include <SolvoEarthKits/blink/buoyAlertCallBack.h>

#include <osgEarthAnnotation/PlaceNode>

#include <osg/Notify>

#include <utility>

buoyAlertCallBack::buoyAlertCallBack(int value) : _value(value) {}

buoyAlertCallBack::buoyAlertCallBack(const buoyAlertCallBack& other, const osg::CopyOp& copyop)
    : osg::Object(other, copyop), osg::Callback(other, copyop), osg::NodeCallback(other, copyop),
      _rhythm(other._rhythm), _value(other._value), _warnedWrongNode(other._warnedWrongNode)
{}

buoyAlertCallBack::~buoyAlertCallBack() = default;

void buoyAlertCallBack::operator()(osg::Node* node, osg::NodeVisitor*)
{
    if (!_rhythm.advance() || !node)
        return;
    // Blindly treating any node as a marker would corrupt it; a wrong attachment is the host's mistake.
    auto* place = dynamic_cast<osgEarth::Annotation::PlaceNode*>(node);
    if (place)
        place->setImageTranspareny(getTransparency());
    else if (!_warnedWrongNode)
    {
        _warnedWrongNode = true;
        OSG_WARN << "[buoyAlertCallBack] \"" << node->getName() << "\" is not a place marker; it does not blink"
                 << std::endl;
    }
}

void buoyAlertCallBack::setClock(Clock clock)
{
    _rhythm.setClock(std::move(clock));
}
