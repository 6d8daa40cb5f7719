#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <SolvoEarthKits/blink/BlinkRhythm.h>

#include <osg/NodeCallback>

/// An update callback that makes a globe place marker (osgEarth::Annotation::PlaceNode) blink as an
/// alert: its icon turns faint (0.3) and opaque (1.0) in turn every half second, starting faint. Runs
/// on the rendering thread inside the update traversal. The subgraph below the node is not traversed
/// while the callback sits on it.
///
/// The callback asks for no frames itself: with a viewer that draws on demand, whoever attaches it
/// keeps frames coming while it is attached (as the ZIR viewer's animations do for a picked part's
/// blinking).
///
/// Choice made here: on a node that is not a place marker, or on no node, the callback only keeps its
/// rhythm (and warns once for a wrong node) instead of touching the node.
class SOLVOEARTHKITS_EXPORT buoyAlertCallBack : public osg::NodeCallback
{
public:
    using Clock = BlinkRhythm::Clock;

    /// Starts the callback's own timer; `value` is kept for the host and does not affect blinking.
    explicit buoyAlertCallBack(int value = 0);
    /// A copy has a timer of its own started at the same tick, and continues the same rhythm.
    buoyAlertCallBack(const buoyAlertCallBack& other, const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);

    META_Object(SolvoEarthKits, buoyAlertCallBack);

    /// Switches the icon transparency of `node` when more than half a second has passed since the
    /// last switch.
    void operator()(osg::Node* node, osg::NodeVisitor* nv) override;

    /// Replaces the time source (the seconds elapsed on the callback's own timer by default); an
    /// empty clock restores the timer. Call on the thread that runs the update traversal.
    void setClock(Clock clock);

    /// The integer given to the constructor.
    int getValue() const { return _value; }

    /// The transparency passed at the last switch: 1.0 before the first one.
    float getTransparency() const { return _rhythm.phase() ? kFaint : kOpaque; }

    /// The icon transparency of the faint half of the blink.
    static constexpr float kFaint = 0.3f;
    /// The icon transparency of the opaque half of the blink.
    static constexpr float kOpaque = 1.0f;

protected:
    ~buoyAlertCallBack() override;

private:
    BlinkRhythm _rhythm; // its phase is true while the icon is faint
    int _value;
    bool _warnedWrongNode = false; // one warning per callback, not one per half second
};
