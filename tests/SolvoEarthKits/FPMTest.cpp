#include <SolvoEarthKits/manipulators/FPM.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

using Ea = osgGA::GUIEventAdapter;

namespace {

const double kTurn = osg::PI / 540.0; // one frame of a held arrow key: 10 units, a third of a degree

class WarpCounter : public osgGA::GUIActionAdapter
{
public:
    void requestRedraw() override {}
    void requestContinuousUpdate(bool on) override { continuous = on; }
    void requestWarpPointer(float x, float y) override { warps.push_back(osg::Vec2(x, y)); }
    std::vector<osg::Vec2> warps;
    bool continuous = false;
};

// Drives an FPM standing at the origin, looking along +Y with +Z up; mouse events in a 200 x 200 window.
class FPMTest : public ::testing::Test
{
protected:
    void SetUp() override { fpm->setTransformation(osg::Vec3d(), osg::Vec3d(0, 1, 0), osg::Vec3d(0, 0, 1)); }

    void send(Ea::EventType type, int code = 0, float x = 100, float y = 100, int count = 1)
    {
        osg::ref_ptr<Ea> ea = new Ea;
        ea->setEventType(type);
        ea->setKey(code);
        ea->setButton(code);
        ea->setScrollingMotion(static_cast<Ea::ScrollingMotion>(code));
        ea->setInputRange(0, 0, 200, 200);
        ea->setX(x);
        ea->setY(y);
        for (int i = 0; i < count; ++i)
            EXPECT_FALSE(fpm->handle(*ea, actions)) << "every event stays unhandled";
    }
    void frames(int count = 1) { send(Ea::FRAME, 0, 100, 100, count); }
    void wheel(Ea::ScrollingMotion motion, int count = 1) { send(Ea::SCROLL, motion, 100, 100, count); }
    // The speed, read off the distance that W walks in one frame.
    double speed()
    {
        const osg::Vec3d before = eye();
        send(Ea::KEYDOWN, 'w');
        frames();
        send(Ea::KEYUP, 'w');
        return (eye() - before).length() / 0.2;
    }
    osg::Vec3d eye() const { return fpm->getMatrix().getTrans(); }
    // Heading (clockwise from +Y) and pitch of the view, radians.
    osg::Vec2d view() const
    {
        const osg::Vec3d look = fpm->getMatrix().getRotate() * osg::Vec3d(0, 0, -1);
        return osg::Vec2d(std::atan2(look.x(), look.y()), std::asin(look.z()));
    }

    osg::ref_ptr<FPM> fpm = new FPM;
    WarpCounter actions;
};

void expectNear(const osg::Vec3d& actual, const osg::Vec3d& expected)
{
    EXPECT_LT((actual - expected).length(), 1e-9) << actual.x() << ", " << actual.y() << ", " << actual.z();
}

} // namespace

TEST_F(FPMTest, LettersAndButtonsWalkOneStepPerFrameWhileHeld)
{
    const std::vector<std::pair<std::vector<int>, osg::Vec3d>> cases = {
        {{'w'}, {0, 1, 0}},         {{'W'}, {0, 1, 0}},         {{'s'}, {0, -1, 0}}, {{'S'}, {0, -1, 0}},
        {{'a'}, {-1, 0, 0}},        {{'A'}, {-1, 0, 0}},        {{'d'}, {1, 0, 0}},  {{'D'}, {1, 0, 0}},
        {{'z'}, {0, 0, 1}},         {{'Z'}, {0, 0, 1}},         {{'c'}, {0, 0, -1}}, {{'C'}, {0, 0, -1}},
        {{'W', 's', 'a', 'D'}, {}}, {{'x', 'q', 'E', '1'}, {}},
    };
    for (const auto& [keys, direction] : cases)
    {
        SCOPED_TRACE(static_cast<char>(keys[0]));
        SetUp();
        for (int key : keys)
            send(Ea::KEYDOWN, key, 100, 100, 2); // a repeated press changes nothing
        frames(2);
        expectNear(eye(), direction * 0.4);
        for (int key : keys)
            send(Ea::KEYUP, std::tolower(key)); // either case releases
        EXPECT_FALSE(actions.continuous) << "released keys stop asking for frames";
        frames();
        expectNear(eye(), direction * 0.4);
    }

    SetUp();
    send(Ea::PUSH, Ea::RIGHT_MOUSE_BUTTON);
    EXPECT_TRUE(actions.continuous) << "a held button asks for frames, the viewer drawing on demand";
    frames(2);
    send(Ea::RELEASE, Ea::RIGHT_MOUSE_BUTTON);
    EXPECT_FALSE(actions.continuous);
    send(Ea::PUSH, Ea::LEFT_MOUSE_BUTTON);
    frames();
    send(Ea::RELEASE, Ea::LEFT_MOUSE_BUTTON);
    frames();
    expectNear(eye(), osg::Vec3d(0, 0.2, 0));
    EXPECT_TRUE(actions.warps.empty());
}

TEST_F(FPMTest, ArrowKeysTurnAThirdOfADegreePerFrameAndRightOrDownWins)
{
    const std::vector<std::pair<std::vector<int>, osg::Vec2d>> cases = {
        {{Ea::KEY_Right}, {kTurn, 0}},
        {{Ea::KEY_Left}, {-kTurn, 0}},
        {{Ea::KEY_Up}, {0, kTurn}},
        {{Ea::KEY_Down}, {0, -kTurn}},
        {{Ea::KEY_Right, Ea::KEY_Left}, {kTurn, 0}},
        {{Ea::KEY_Down, Ea::KEY_Up}, {0, -kTurn}},
    };
    for (const auto& [keys, turn] : cases)
    {
        SCOPED_TRACE(keys.size() * 1000 + keys[0]);
        SetUp();
        for (int key : keys)
            send(Ea::KEYDOWN, key);
        frames(3);
        for (int key : keys)
            send(Ea::KEYUP, key);
        frames();
        EXPECT_NEAR(view().x(), 3 * turn.x(), 1e-9);
        EXPECT_NEAR(view().y(), 3 * turn.y(), 1e-9);
        expectNear(eye(), osg::Vec3d());
    }
}

TEST_F(FPMTest, MouseLookTogglesOnSpaceReleaseAndTurnsOutsideTheDeadZone)
{
    send(Ea::KEYDOWN, ' ');
    send(Ea::DRAG, 0, 150, 100);
    EXPECT_LT(view().length(), 1e-12) << "off until space is released";
    send(Ea::KEYUP, ' ');
    ASSERT_EQ(actions.warps.size(), 1u) << "switching on centres the pointer";
    EXPECT_EQ(actions.warps[0], osg::Vec2(100, 100));

    send(Ea::MOVE, 0, 103, 97);
    send(Ea::DRAG, 0, 97, 103);
    EXPECT_LT(view().length(), 1e-12) << "within the dead zone";
    EXPECT_EQ(actions.warps.size(), 1u) << "no re-centring within the dead zone";

    // One axis outside is enough. Yaw and pitch at once are not quite separable angles.
    send(Ea::MOVE, 0, 120, 102);
    EXPECT_NEAR(view().x(), 2 * kTurn, 1e-6);
    EXPECT_NEAR(view().y(), 0.2 * kTurn, 1e-6);
    send(Ea::DRAG, 0, 100, 96);
    EXPECT_NEAR(view().y(), -0.2 * kTurn, 1e-6);
    EXPECT_EQ(actions.warps.size(), 3u);

    send(Ea::KEYUP, ' ');
    send(Ea::MOVE, 0, 150, 100);
    EXPECT_NEAR(view().x(), 2 * kTurn, 1e-6) << "switched off again";
    EXPECT_EQ(actions.warps.size(), 3u);
}

TEST_F(FPMTest, WheelStepsSpeedWithinLimitsAndMiddleButtonResetsIt)
{
    const std::vector<std::pair<int, double>> steps = {
        // wheel clicks (negative: down), speed afterwards
        {1, 2.0},    {8, 10.0}, {1, 20.0}, {-2, 9.0}, {20, 100.0},
        {-200, 0.1}, {1, 0.2},  {-1, 0.1}, {9, 1.0}, // tenths do not drift on the way back up
        {1, 2.0},
    };
    for (const auto& [clicks, expected] : steps)
    {
        wheel(clicks > 0 ? Ea::SCROLL_UP : Ea::SCROLL_DOWN, std::abs(clicks));
        EXPECT_NEAR(speed(), expected, 1e-9) << clicks;
    }
    wheel(Ea::SCROLL_LEFT);
    wheel(Ea::SCROLL_2D);
    EXPECT_NEAR(speed(), 2.0, 1e-9) << "sideways scrolling changes nothing";
    send(Ea::PUSH, Ea::MIDDLE_MOUSE_BUTTON);
    EXPECT_NEAR(speed(), 1.0, 1e-9);
}

TEST_F(FPMTest, CloneKeepsSpeedHeldKeysAndMouseLook)
{
    wheel(Ea::SCROLL_UP);
    send(Ea::KEYDOWN, 'w');
    send(Ea::KEYUP, ' ');
    fpm = dynamic_cast<FPM*>(fpm->clone(osg::CopyOp::SHALLOW_COPY));
    ASSERT_TRUE(fpm.valid());
    frames();
    expectNear(eye(), osg::Vec3d(0, 0.4, 0));
    send(Ea::MOVE, 0, 110, 100);
    EXPECT_NEAR(view().x(), kTurn, 1e-9);
}
