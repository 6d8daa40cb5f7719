#include <SolvoEarthKits/manipulators/FPM.h>

#include <algorithm>
#include <cmath>

using osgGA::GUIEventAdapter;

namespace {

constexpr double kMinSpeed = 0.1;
constexpr double kMaxSpeed = 100.0;
constexpr double kKeyTurn = 10.0; // turn input per frame of a held arrow key
constexpr float kDeadZone = 3.0f; // pointer offsets within this many units of the centre do not turn

// Wheel steps of 0.1 accumulate binary rounding errors (nine steps up from 0.1 give 0.99999...,
// which would take the next step from below 1); every reachable speed is a multiple of 0.1.
double toTenths(double speed)
{
    return std::round(speed * 10.0) / 10.0;
}

} // namespace

FPM::FPM()
    : osgGA::FirstPersonManipulator(UPDATE_MODEL_SIZE | PROCESS_MOUSE_WHEEL), _turnRate(osg::PI / 5400.0), _step(0.2),
      _speed(1.0), _forward(false), _backward(false), _left(false), _right(false), _up(false), _down(false),
      _mouseLook(false), _turnUp(false), _turnDown(false), _turnLeft(false), _turnRight(false)
{}

FPM::FPM(const FPM& other, const osg::CopyOp& copyOp)
    : osg::Object(other, copyOp), osg::Callback(other, copyOp), osgGA::FirstPersonManipulator(other, copyOp),
      _turnRate(other._turnRate), _step(other._step), _speed(other._speed), _forward(other._forward),
      _backward(other._backward), _left(other._left), _right(other._right), _up(other._up), _down(other._down),
      _mouseLook(other._mouseLook), _turnUp(other._turnUp), _turnDown(other._turnDown), _turnLeft(other._turnLeft),
      _turnRight(other._turnRight)
{}

bool FPM::handle(const GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa)
{
    switch (ea.getEventType())
    {
    case GUIEventAdapter::FRAME: onFrame(); break;
    case GUIEventAdapter::PUSH:
        if (ea.getButton() == GUIEventAdapter::LEFT_MOUSE_BUTTON)
            _backward = true;
        else if (ea.getButton() == GUIEventAdapter::RIGHT_MOUSE_BUTTON)
            _forward = true;
        else if (ea.getButton() == GUIEventAdapter::MIDDLE_MOUSE_BUTTON)
            _speed = 1.0;
        break;
    case GUIEventAdapter::RELEASE:
        if (ea.getButton() == GUIEventAdapter::LEFT_MOUSE_BUTTON)
            _backward = false;
        else if (ea.getButton() == GUIEventAdapter::RIGHT_MOUSE_BUTTON)
            _forward = false;
        break;
    case GUIEventAdapter::MOVE:
    case GUIEventAdapter::DRAG:
        if (_mouseLook)
            onMouseLook(ea, aa);
        break;
    case GUIEventAdapter::KEYDOWN:
        if (bool* flag = flagOfKey(ea.getKey()))
            *flag = true;
        break;
    case GUIEventAdapter::KEYUP:
        if (bool* flag = flagOfKey(ea.getKey()))
            *flag = false;
        else if (ea.getKey() == GUIEventAdapter::KEY_Space)
        {
            _mouseLook = !_mouseLook;
            // The pointer's offset from the centre is the turn input, so it must start there.
            if (_mouseLook)
                centerMousePointer(ea, aa);
        }
        break;
    case GUIEventAdapter::SCROLL: onScroll(ea.getScrollingMotion()); break;
    default: break;
    }
    // A viewer that draws on demand keeps drawing only while something asks for it.
    if (ea.getEventType() != GUIEventAdapter::FRAME)
        aa.requestContinuousUpdate(moving());
    return false;
}

bool FPM::moving() const
{
    return _forward || _backward || _left || _right || _up || _down || _turnUp || _turnDown || _turnLeft ||
           _turnRight;
}

osg::Quat FPM::frameRotation() const
{
    return osg::Quat();
}

void FPM::turn(double dx, double dy)
{
    const osg::Quat frame = frameRotation();
    osg::Quat rotation = _rotation * frame.inverse();
    const osg::Vec3d up = getUpVector(getCoordinateFrame(_eye));
    rotateYawPitch(rotation, dx * _turnRate, dy * _turnRate, up);
    // Each turn multiplies rounding error into the quaternion; kept unit length, the view never drifts into a
    // scale or shear however long the user turns.
    rotation /= rotation.length();
    _rotation = rotation * frame;
}

void FPM::onFrame()
{
    const double distance = _speed * _step;
    if (_forward)
        moveForward(distance);
    if (_backward)
        moveForward(-distance);
    if (_left)
        moveRight(-distance);
    if (_right)
        moveRight(distance);
    if (_up)
        moveUp(distance);
    if (_down)
        moveUp(-distance);

    double dy = 0.0;
    if (_turnUp)
        dy = kKeyTurn;
    if (_turnDown)
        dy = -kKeyTurn;
    const double dx = _turnLeft ? -kKeyTurn : 0.0;
    if (_turnRight)
        turn(kKeyTurn, dy);
    else if (dx != 0.0 || dy != 0.0)
        turn(dx, dy);
}

void FPM::onScroll(GUIEventAdapter::ScrollingMotion motion)
{
    if (motion == GUIEventAdapter::SCROLL_UP)
    {
        const double increment = _speed < 1.0 ? 0.1 : (_speed >= 10.0 ? 10.0 : 1.0);
        _speed = std::min(toTenths(_speed + increment), kMaxSpeed);
    }
    else if (motion == GUIEventAdapter::SCROLL_DOWN)
    {
        const double decrement = _speed <= 1.0 ? 0.1 : (_speed > 10.0 ? 10.0 : 1.0);
        _speed = std::max(toTenths(_speed - decrement), kMinSpeed);
    }
}

void FPM::onMouseLook(const GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa)
{
    const float dx = ea.getX() - (ea.getXmin() + ea.getXmax()) / 2.0f;
    const float dy = ea.getY() - (ea.getYmin() + ea.getYmax()) / 2.0f;
    if (std::fabs(dx) <= kDeadZone && std::fabs(dy) <= kDeadZone)
        return;
    turn(dx, dy);
    centerMousePointer(ea, aa);
}

bool* FPM::flagOfKey(int key)
{
    switch (key)
    {
    case 'w':
    case 'W': return &_forward;
    case 's':
    case 'S': return &_backward;
    case 'a':
    case 'A': return &_left;
    case 'd':
    case 'D': return &_right;
    case 'z':
    case 'Z': return &_up;
    case 'c':
    case 'C': return &_down;
    case GUIEventAdapter::KEY_Up: return &_turnUp;
    case GUIEventAdapter::KEY_Down: return &_turnDown;
    case GUIEventAdapter::KEY_Left: return &_turnLeft;
    case GUIEventAdapter::KEY_Right: return &_turnRight;
    default: return nullptr;
    }
}
