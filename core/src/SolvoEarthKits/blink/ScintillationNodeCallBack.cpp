#include <SolvoEarthKits/blink/ScintillationNodeCallBack.h>

#include <SolvoEarthUtil/scene/ModelHighLight.h>

#include <utility>

namespace SolvoEarthUtil {

namespace {

const osg::Vec4f kBlinkColour(1.0f, 0.0f, 0.5f, 0.5f);

} // namespace

ScintillationNodeCallBack::ScintillationNodeCallBack(int value) : _value(value) {}

ScintillationNodeCallBack::ScintillationNodeCallBack(const ScintillationNodeCallBack& other, const osg::CopyOp& copyop)
    : osg::Object(other, copyop), osg::Callback(other, copyop), osg::NodeCallback(other, copyop),
      _rhythm(other._rhythm), _value(other._value)
{}

ScintillationNodeCallBack::~ScintillationNodeCallBack() = default;

void ScintillationNodeCallBack::operator()(osg::Node* node, osg::NodeVisitor*)
{
    if (!_rhythm.advance())
        return;
    if (_rhythm.phase())
        removeModelHighLight(node);
    else
        setModelHighLight(node, kBlinkColour);
}

void ScintillationNodeCallBack::setClock(Clock clock)
{
    _rhythm.setClock(std::move(clock));
}

} // namespace SolvoEarthUtil
