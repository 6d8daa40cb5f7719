#include <SolvoEarthKits/manipulators/FPMExt.h>

#include <osgEarth/Map>
#include <osgEarth/MapNode>
#include <osgEarth/MapOptions>
#include <osgEarth/SpatialReference>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

using Ea = osgGA::GUIEventAdapter;

namespace {

const double kTurn = osg::PI / 540.0; // one frame of a held arrow key: a third of a degree
// The base manipulator's yaw-pitch step lets its rotation drift from unit length by up to about 1e-7 per
// turn, and its setTransformation() levels the roll against the world's Z; a turn about a wrong axis is
// off by 1e-3 and more.
const double kAngle = 1e-6;

class Actions : public osgGA::GUIActionAdapter
{
public:
    void requestRedraw() override {}
    void requestContinuousUpdate(bool) override {}
    void requestWarpPointer(float, float) override {}
};

// Feeds one event to a manipulator; mouse positions in a 200 x 200 window.
void send(FPM& fpm, Ea::EventType type, int code = 0, int count = 1, float x = 100, float y = 100)
{
    osg::ref_ptr<Ea> ea = new Ea;
    ea->setEventType(type);
    ea->setKey(code);
    ea->setButton(code);
    ea->setInputRange(0, 0, 200, 200);
    ea->setX(x);
    ea->setY(y);
    Actions actions;
    for (int i = 0; i < count; ++i)
        EXPECT_FALSE(fpm.handle(*ea, actions));
}

// Holds `key` for `frames` frames.
void hold(FPM& fpm, int key, int frames)
{
    send(fpm, Ea::KEYDOWN, key);
    send(fpm, Ea::FRAME, 0, frames);
    send(fpm, Ea::KEYUP, key);
}

double wrapped(double angle)
{
    return std::atan2(std::sin(angle), std::cos(angle));
}

// A walker on the WGS84 globe of a default (geocentric) map node.
class FPMExtTest : public ::testing::Test
{
protected:
    // Puts `fpm` `height` metres above the ellipsoid at the given degrees, looking level towards
    // `heading` (degrees clockwise from north).
    void place(FPM& fpm, double latitude, double longitude, double height, double heading)
    {
        const double lat = osg::DegreesToRadians(latitude);
        const double lon = osg::DegreesToRadians(longitude);
        osg::Vec3d eye;
        ellipsoid->convertLatLongHeightToXYZ(lat, lon, height, eye.x(), eye.y(), eye.z());
        // Camera axes: -Z looks ahead, +Y is up; turned north, then to the heading, then into the world.
        const osg::Quat lookNorth(osg::PI_2, osg::X_AXIS);
        const osg::Quat toHeading(-osg::DegreesToRadians(heading), osg::Z_AXIS);
        const osg::Quat enuToWorld = osg::Quat(osg::PI_2 - lat, osg::X_AXIS) * osg::Quat(osg::PI_2 + lon, osg::Z_AXIS);
        fpm.setTransformation(eye, lookNorth * toHeading * enuToWorld);
    }
    osg::Vec3d eye(const FPM& fpm) const
    {
        osg::Vec3d position;
        osg::Quat rotation;
        fpm.getTransformation(position, rotation);
        return position;
    }
    // How far `fpm` rose above the local horizontal plane through `from`. Converting to a height above the
    // ellipsoid would be ill-conditioned near the poles.
    double rise(const FPM& fpm, const osg::Vec3d& from) const
    {
        osg::Matrixd enu;
        ellipsoid->computeLocalToWorldTransformFromXYZ(from.x(), from.y(), from.z(), enu);
        return (eye(fpm) - from) * osg::Matrixd::transform3x3(osg::Vec3d(0, 0, 1), enu);
    }
    // Heading (clockwise from north) and pitch of the view in the east-north-up frame at the eye, radians.
    osg::Vec2d view(const FPM& fpm) const
    {
        osg::Vec3d position;
        osg::Quat rotation;
        fpm.getTransformation(position, rotation);
        osg::Matrixd enu;
        ellipsoid->computeLocalToWorldTransformFromXYZ(position.x(), position.y(), position.z(), enu);
        const osg::Vec3d look = rotation * osg::Vec3d(0, 0, -1);
        // The frame's rows are east, north and up in world coordinates.
        const osg::Vec3d local = osg::Matrixd::transform3x3(enu, look);
        return osg::Vec2d(std::atan2(local.x(), local.y()), std::asin(local.z()));
    }

    osg::ref_ptr<osgEarth::MapNode> globe = new osgEarth::MapNode();
    const osg::EllipsoidModel* ellipsoid = globe->getMapSRS()->getEllipsoid();
};

const double kLatitudes[] = {0.0, 60.0, -60.0, 89.99};

} // namespace

TEST_F(FPMExtTest, ArrowKeysTurnAboutTheLocalUp)
{
    const struct
    {
        int key;
        double heading; // change over three frames
        double pitch;
    } cases[] = {
        {Ea::KEY_Right, 3 * kTurn, 0.0},
        {Ea::KEY_Left, -3 * kTurn, 0.0},
        {Ea::KEY_Up, 0.0, 3 * kTurn},
        {Ea::KEY_Down, 0.0, -3 * kTurn},
    };
    for (double latitude : kLatitudes)
        for (double heading : {0.0, 90.0, 225.0})
            for (const auto& c : cases)
            {
                SCOPED_TRACE(testing::Message()
                             << "latitude " << latitude << ", heading " << heading << ", key " << c.key);
                osg::ref_ptr<FPMExt> walker = new FPMExt(globe.get());
                place(*walker, latitude, 116.4, 100.0, heading);
                const osg::Vec2d before = view(*walker);
                const osg::Vec3d start = eye(*walker);
                EXPECT_NEAR(before.y(), 0.0, kAngle) << "starts level";
                hold(*walker, c.key, 3);
                const osg::Vec2d after = view(*walker);
                EXPECT_NEAR(wrapped(after.x() - before.x()), c.heading, kAngle);
                EXPECT_NEAR(after.y(), c.pitch, kAngle);
                EXPECT_EQ(eye(*walker), start) << "turning does not move the eye";
            }
}

TEST_F(FPMExtTest, WalkingAfterTurningStaysLevel)
{
    const struct
    {
        int key;
        int frames;
    } turns[] = {{Ea::KEY_Right, 30}, {Ea::KEY_Left, 45}, {Ea::KEY_Right, 270}};
    for (double latitude : kLatitudes)
        for (const auto& t : turns)
        {
            SCOPED_TRACE(testing::Message() << "latitude " << latitude << ", key " << t.key << " x " << t.frames);
            osg::ref_ptr<FPMExt> walker = new FPMExt(globe.get());
            place(*walker, latitude, -71.0, 100.0, 30.0);
            const osg::Vec3d start = eye(*walker);
            hold(*walker, t.key, t.frames);
            hold(*walker, 'w', 5); // one metre
            EXPECT_NEAR((eye(*walker) - start).length(), 1.0, 10 * kAngle);
            // The height above the ellipsoid changes by this rise plus the curvature's 8e-8 m over a
            // straight metre; a tilted view would rise by a millimetre and more.
            EXPECT_NEAR(rise(*walker, start), 0.0, 10 * kAngle);
            EXPECT_NEAR(view(*walker).y(), 0.0, 10 * kAngle);
        }

    // The same walk with the flat-scene manipulator climbs off the globe: the check above tells them apart.
    osg::ref_ptr<FPM> flat = new FPM;
    place(*flat, 60.0, -71.0, 100.0, 30.0);
    const osg::Vec3d start = eye(*flat);
    hold(*flat, Ea::KEY_Right, 30);
    hold(*flat, 'w', 5);
    EXPECT_GT(std::fabs(rise(*flat, start)), 1e-3);
}

TEST_F(FPMExtTest, LongTurningKeepsTheRotationUnitLength)
{
    // Turning through the tilted local frame compounds rounding error in the quaternion unless it is kept
    // normalised; a drifting length would scale the view matrix more with every frame.
    osg::ref_ptr<FPMExt> walker = new FPMExt(globe.get());
    place(*walker, 60.0, -71.0, 100.0, 30.0);
    hold(*walker, Ea::KEY_Right, 3000);
    osg::Vec3d position;
    osg::Quat rotation;
    walker->getTransformation(position, rotation);
    EXPECT_NEAR(rotation.length(), 1.0, 1e-12);
}

TEST_F(FPMExtTest, WithoutALiveGeocentricMapNodeItTurnsAsFPM)
{
    // A mixed input sequence: keys that turn and walk, then mouse-look outside the dead zone.
    const auto drive = [](FPM& fpm) {
        send(fpm, Ea::KEYDOWN, Ea::KEY_Right);
        send(fpm, Ea::KEYDOWN, Ea::KEY_Up);
        send(fpm, Ea::FRAME, 0, 4);
        send(fpm, Ea::KEYUP, Ea::KEY_Right);
        send(fpm, Ea::KEYUP, Ea::KEY_Up);
        hold(fpm, 'd', 2);
        send(fpm, Ea::KEYUP, ' ');
        send(fpm, Ea::DRAG, 0, 1, 140, 80);
        send(fpm, Ea::MOVE, 0, 1, 90, 130);
    };
    osgEarth::MapOptions flatOptions;
    flatOptions.coordSysType() = osgEarth::MapOptions::CSTYPE_PROJECTED;

    const struct
    {
        const char* name;
        std::function<osg::ref_ptr<osgEarth::MapNode>()> mapNode; // kept alive through the walk
        bool destroyBeforeWalk;
        bool sameAsFPM;
    } cases[] = {
        {"no map node", [] { return osg::ref_ptr<osgEarth::MapNode>(); }, false, true},
        {"destroyed map node", [] { return osg::ref_ptr<osgEarth::MapNode>(new osgEarth::MapNode()); }, true, true},
        {"projected map",
         [&] { return osg::ref_ptr<osgEarth::MapNode>(new osgEarth::MapNode(new osgEarth::Map(flatOptions))); }, false,
         true},
        {"live globe", [] { return osg::ref_ptr<osgEarth::MapNode>(new osgEarth::MapNode()); }, false, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        osg::ref_ptr<osgEarth::MapNode> mapNode = c.mapNode();
        osg::ref_ptr<FPMExt> walker = new FPMExt(mapNode.get());
        if (c.destroyBeforeWalk)
        {
            mapNode = nullptr;
            EXPECT_EQ(walker->getMapNode(), nullptr) << "the walker does not keep the map node alive";
        }
        osg::ref_ptr<FPM> reference = new FPM;
        // Off the poles and the axes, so that a local frame and the world's differ.
        place(*walker, 60.0, 116.4, 100.0, 30.0);
        place(*reference, 60.0, 116.4, 100.0, 30.0);
        drive(*walker);
        drive(*reference);
        const osg::Matrixd got = walker->getMatrix();
        const osg::Matrixd expected = reference->getMatrix();
        double largest = 0.0;
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 3; ++column)
                largest = std::max(largest, std::fabs(got(row, column) - expected(row, column)));
        if (c.sameAsFPM)
            EXPECT_EQ(largest, 0.0);
        else
            EXPECT_GT(largest, 1e-3);
    }
}

TEST_F(FPMExtTest, CloneObservesTheSameMapNode)
{
    osg::ref_ptr<FPMExt> walker = new FPMExt(globe.get());
    place(*walker, 60.0, 10.0, 100.0, 0.0);
    send(*walker, Ea::KEYDOWN, Ea::KEY_Left);
    osg::ref_ptr<FPMExt> copy = dynamic_cast<FPMExt*>(walker->clone(osg::CopyOp::SHALLOW_COPY));
    ASSERT_TRUE(copy.valid());
    EXPECT_EQ(copy->getMapNode(), globe.get());
    send(*copy, Ea::FRAME, 0, 3);
    EXPECT_NEAR(view(*copy).x(), -3 * kTurn, kAngle) << "the held key came along and turns about the local up";
    EXPECT_NEAR(view(*copy).y(), 0.0, kAngle);
    EXPECT_EQ(globe->referenceCount(), 1) << "neither copy holds a reference";
}
