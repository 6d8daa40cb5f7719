#include <SolvoEarthKits/picking/PickScanInfoHandler.h>

#include "NotifyCapture.h"

#include <osgEarth/GeoData>
#include <osgEarth/SpatialReference>

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osgViewer/Viewer>

#include <functional>
#include <vector>

using MarloKits::PickScanInfoHandler;
using veltra::test::NotifyCapture;

namespace {

struct Pick
{
    osg::Node* node;
    osg::Vec3d position;
};

class Recorder : public PickScanInfoHandler::pickCallBack
{
public:
    void onPick(osg::Node* node, const osg::Vec3d& position) override
    {
        picks.push_back({node, position});
        if (onEach)
            onEach();
    }
    std::vector<Pick> picks;
    std::function<void()> onEach;
};

// A 100 m square named "roof" lying flat on the WGS84 ellipsoid at 116.5 E, 39.9 N, seen straight down from 1 km
// by a viewer whose camera is set by hand (no window: the events carry the camera as their pointer data).
class PickScanInfoHandlerScene : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wgs84 = osgEarth::SpatialReference::create("wgs84");
        osg::Matrixd enu;
        ASSERT_TRUE(osgEarth::GeoPoint(wgs84.get(), kPoint).createLocalToWorld(enu));
        roof = new osg::Geode;
        roof->setName("roof");
        roof->addDrawable(osg::createTexturedQuadGeometry(osg::Vec3(-50, -50, 0), osg::Vec3(100, 0, 0),
                                                          osg::Vec3(0, 100, 0)));
        osg::ref_ptr<osg::MatrixTransform> place = new osg::MatrixTransform(enu);
        place->addChild(roof.get());
        viewer->setSceneData(place.get());

        osg::Camera* camera = viewer->getCamera();
        camera->setViewport(0, 0, 100, 100);
        camera->setProjectionMatrixAsPerspective(30.0, 1.0, 1.0, 10000.0);
        const osg::Vec3d centre = osg::Vec3d() * enu;
        const osg::Vec3d up = osg::Vec3d(0, 0, 1) * enu - centre;
        const osg::Vec3d north = osg::Vec3d(0, 1, 0) * enu - centre;
        camera->setViewMatrixAsLookAt(centre + up * 1000.0, centre, north);
        handler->addCallBack(recorder.get());
    }

    // An event of `type` with `button` at window position (x, y) of the 100 × 100 viewport.
    osg::ref_ptr<osgGA::GUIEventAdapter> event(osgGA::GUIEventAdapter::EventType type, int button, double x = 50,
                                              double y = 50)
    {
        osg::ref_ptr<osgGA::GUIEventAdapter> ea = new osgGA::GUIEventAdapter;
        ea->setEventType(type);
        ea->setButton(button);
        ea->setX(x);
        ea->setY(y);
        ea->addPointerData(new osgGA::PointerData(viewer->getCamera(), x, 0, 100, y, 0, 100));
        return ea;
    }

    bool press(int button, double x = 50, double y = 50)
    {
        return handler->handle(*event(osgGA::GUIEventAdapter::PUSH, button, x, y), *viewer);
    }

    const osg::Vec3d kPoint{116.5, 39.9, 0.0};
    osg::ref_ptr<const osgEarth::SpatialReference> wgs84;
    osg::ref_ptr<osgViewer::Viewer> viewer = new osgViewer::Viewer;
    osg::ref_ptr<osg::Geode> roof;
    osg::ref_ptr<PickScanInfoHandler> handler = new PickScanInfoHandler;
    osg::ref_ptr<Recorder> recorder = new Recorder;
};

} // namespace

TEST_F(PickScanInfoHandlerScene, AnyButtonReportsTheHitAsLongitudeLatitudeHeight)
{
    handler->setSRS(wgs84.get());
    for (int button : {osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON, osgGA::GUIEventAdapter::MIDDLE_MOUSE_BUTTON,
                       osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON})
    {
        recorder->picks.clear();
        EXPECT_FALSE(press(button)) << "the event is never consumed";
        ASSERT_EQ(recorder->picks.size(), 1u) << button;
        EXPECT_EQ(recorder->picks[0].node, roof.get());
        EXPECT_NEAR(recorder->picks[0].position.x(), kPoint.x(), 1e-7);
        EXPECT_NEAR(recorder->picks[0].position.y(), kPoint.y(), 1e-7);
        EXPECT_NEAR(recorder->picks[0].position.z(), 0.0, 1e-3);
    }

    // Off the centre the report moves with the hit: a tenth of the view to the north is still on the roof.
    recorder->picks.clear();
    press(osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON, 50, 55);
    ASSERT_EQ(recorder->picks.size(), 1u);
    EXPECT_GT(recorder->picks[0].position.y(), kPoint.y());
    EXPECT_NEAR(recorder->picks[0].position.x(), kPoint.x(), 1e-7);
}

TEST_F(PickScanInfoHandlerScene, OnlyPressesThatHitSomethingWithAReferenceTellTheListeners)
{
    {
        NotifyCapture notices(osg::NOTICE);
        press(osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON);
        EXPECT_TRUE(notices.contains("pick object name ANSI roof")) << "logged even without a reference";
    }
    EXPECT_TRUE(recorder->picks.empty());

    handler->setSRS(wgs84.get());
    for (auto type : {osgGA::GUIEventAdapter::RELEASE, osgGA::GUIEventAdapter::DOUBLECLICK,
                      osgGA::GUIEventAdapter::DRAG, osgGA::GUIEventAdapter::MOVE})
        EXPECT_FALSE(handler->handle(*event(type, osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON), *viewer));
    press(osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON, 2, 2); // beyond the roof: empty space
    EXPECT_TRUE(recorder->picks.empty());

    handler->pick(nullptr, *event(osgGA::GUIEventAdapter::PUSH, osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON));
    EXPECT_TRUE(recorder->picks.empty());

    handler->setSRS(nullptr);
    press(osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON);
    EXPECT_TRUE(recorder->picks.empty()) << "a null reference switches the reports off";
}

TEST_F(PickScanInfoHandlerScene, ListenersAreHeldAndToldInOrderOfAddition)
{
    handler->setSRS(wgs84.get());
    std::vector<int> order;
    osg::observer_ptr<Recorder> second;
    {
        osg::ref_ptr<Recorder> other = new Recorder;
        other->onEach = [&order] { order.push_back(2); };
        second = other.get();
        handler->addCallBack(other.get());
        handler->addCallBack(nullptr);
    }
    ASSERT_TRUE(second.valid()) << "the handler keeps a reference to each listener";
    EXPECT_EQ(handler->getNumCallBacks(), 2u);

    // A listener added while the listeners are told hears the next pick, not this one.
    osg::ref_ptr<Recorder> late = new Recorder;
    recorder->onEach = [&] {
        order.push_back(1);
        if (handler->getNumCallBacks() == 2)
            handler->addCallBack(late.get());
    };
    press(osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(late->picks.empty());
    press(osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON);
    EXPECT_EQ(late->picks.size(), 1u);

    osg::observer_ptr<PickScanInfoHandler> watched = handler.get();
    handler = nullptr;
    EXPECT_FALSE(watched.valid());
    EXPECT_FALSE(second.valid()) << "listeners are released with the handler";
}
