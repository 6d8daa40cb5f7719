#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osgGA/FirstPersonManipulator>

/// A first-person ("walk") camera manipulator for flat scenes such as building models.
///
/// Letter keys and the left and right mouse buttons move the eye, the arrow keys or the mouse-look
/// mode (toggled by releasing space) turn it about the manipulator's up vector, and the wheel sets
/// the walking speed. Movement is a fixed distance per frame. Every event is left unhandled, so
/// other handlers see it too; the base manipulator's own dragging, wheel and throw are not used.
///
/// Threads: handle() runs in the viewer's event traversal on the rendering thread.
///
/// Choice made here: the speed is kept on multiples of 0.1, so that stepping down to the
/// minimum and back up returns to the same speeds instead of drifting by rounding errors.
class SOLVOEARTHKITS_EXPORT FPM : public osgGA::FirstPersonManipulator
{
public:
    FPM();
    /// Copies the eye, the rotation, the speed and every held key or button.
    FPM(const FPM& other, const osg::CopyOp& copyOp = osg::CopyOp::SHALLOW_COPY);

    META_Object(SolvoEarthKits, FPM);

    using osgGA::FirstPersonManipulator::handle;
    /// Updates the key and button state and moves or turns the eye; answers false for every event.
    bool handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) override;

protected:
    ~FPM() override = default;

    /// The rotation of the frame in which turning keeps level; identity here, so turns follow the
    /// manipulator's own up vector. A globe walker answers the local east-north-up frame.
    virtual osg::Quat frameRotation() const;

    /// Turns the eye by `dx` (right) and `dy` (up) units of turn input.
    void turn(double dx, double dy);

private:
    void onFrame();
    /// True while a held key or button moves or turns the eye every frame.
    bool moving() const;
    void onScroll(osgGA::GUIEventAdapter::ScrollingMotion motion);
    void onMouseLook(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa);
    /// The flag that `key` holds while pressed, or null for keys without one.
    bool* flagOfKey(int key);

    double _turnRate; // radians per unit of turn input
    double _step;     // distance moved per frame at speed 1
    double _speed;    // multiplier of the step, within [0.1, 100]
    bool _forward;
    bool _backward;
    bool _left;
    bool _right;
    bool _up;
    bool _down;
    bool _mouseLook;
    bool _turnUp;
    bool _turnDown;
    bool _turnLeft;
    bool _turnRight;
};
