#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <SolvoEarthKits/blink/BlinkRhythm.h>

#include <osg/NodeCallback>

namespace SolvoEarthUtil {

/// An update callback that makes its node blink: the model highlight goes off and on every half
/// second, starting with the plain half. Runs on the rendering thread inside the update traversal.
/// The subgraph below the node is not traversed while the callback sits on it.
///
/// Each instance keeps its own rhythm (last switch time and phase), so several blinking nodes do
/// not disturb each other.
class SOLVOEARTHKITS_EXPORT ScintillationNodeCallBack : public osg::NodeCallback
{
public:
    using Clock = BlinkRhythm::Clock;

    /// Starts the callback's own timer; `value` is kept for the host and does not affect blinking.
    explicit ScintillationNodeCallBack(int value = 0);
    /// A copy has a timer of its own started at the same tick, and continues the same rhythm.
    ScintillationNodeCallBack(const ScintillationNodeCallBack& other,
                              const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);

    META_Object(SolvoEarthUtil, ScintillationNodeCallBack);

    /// Switches the highlight of `node` when more than half a second has passed since the last switch.
    void operator()(osg::Node* node, osg::NodeVisitor* nv) override;

    /// Replaces the time source (the seconds elapsed on the callback's own timer by default); an
    /// empty clock restores the timer. Call on the thread that runs the update traversal.
    void setClock(Clock clock);

    /// The integer given to the constructor.
    int getValue() const { return _value; }

protected:
    ~ScintillationNodeCallBack() override;

private:
    BlinkRhythm _rhythm; // its phase is true while the node is plain
    int _value;
};

} // namespace SolvoEarthUtil
