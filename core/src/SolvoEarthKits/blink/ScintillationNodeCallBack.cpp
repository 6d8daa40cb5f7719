#include <SolvoEarthKits/blink/ScintillationNodeCallBack.h>

#include <SolvoEarthUtil/scene/ModelHighLight.h>

#include <utility>

namespace SolvoEarthUtil {

namespace {

constexpr double kHalfPeriod = 0.5;
const osg::Vec4f kBlinkColour(1.0f, 0.0f, 0.5f, 0.5f);

} // namespace

ScintillationNodeCallBack::ScintillationNodeCallBack(int value) : _timer(new osg::Timer), _value(value)
{
    _timer->setStartTick();
}

ScintillationNodeCallBack::ScintillationNodeCallBack(const ScintillationNodeCallBack& other, const osg::CopyOp& copyop)
    : osg::Object(other, copyop), osg::Callback(other, copyop), osg::NodeCallback(other, copyop),
      _timer(new osg::Timer(*other._timer)), _clock(other._clock), _value(other._value), _lastSwitch(other._lastSwitch),
      _phase(other._phase)
{}

ScintillationNodeCallBack::~ScintillationNodeCallBack() = default;

void ScintillationNodeCallBack::operator()(osg::Node* node, osg::NodeVisitor*)
{
    const double time = now();
    if (!(time > _lastSwitch + kHalfPeriod))
        return;
    _lastSwitch = time;
    _phase = !_phase;
    if (_phase)
        removeModelHighLight(node);
    else
        setModelHighLight(node, kBlinkColour);
}

void ScintillationNodeCallBack::setClock(Clock clock)
{
    _clock = std::move(clock);
}

double ScintillationNodeCallBack::now() const
{
    return _clock ? _clock() : _timer->time_s();
}

} // namespace SolvoEarthUtil
