#include "ViewerHarness.h"

#include "VirtualDisplay.h"

#include <osg/GraphicsContext>

#include <cstdlib>

namespace veltra::test {

namespace {

class CaptureCallback : public osg::Camera::DrawCallback
{
public:
    explicit CaptureCallback(osg::Image* image) : _image(image) {}
    void operator()(osg::RenderInfo& renderInfo) const override
    {
        const osg::Viewport* viewport = renderInfo.getCurrentCamera()->getViewport();
        _image->readPixels(0, 0, static_cast<int>(viewport->width()), static_cast<int>(viewport->height()), GL_RGBA,
                           GL_UNSIGNED_BYTE);
    }

private:
    osg::ref_ptr<osg::Image> _image;
};

} // namespace

ViewerHarness::ViewerHarness(int width, int height) : _width(width), _height(height), _viewer(new osgViewer::Viewer)
{
    if (!ensureDisplay(&_why))
        return;
    ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);

    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->x = 0;
    traits->y = 0;
    traits->width = width;
    traits->height = height;
    traits->windowDecoration = false;
    traits->doubleBuffer = true;
    traits->readDISPLAY();
    traits->setUndefinedScreenDetailsToDefaultScreen();
    osg::ref_ptr<osg::GraphicsContext> context = osg::GraphicsContext::createGraphicsContext(traits.get());
    _window = dynamic_cast<osgViewer::GraphicsWindow*>(context.get());
    if (!_window.valid() || !_window->valid())
    {
        _window = nullptr;
        _why = "cannot open a window on the test display";
        return;
    }

    _viewer->setThreadingModel(osgViewer::Viewer::SingleThreaded);
    _viewer->setKeyEventSetsDone(0);
    osg::Camera* camera = _viewer->getCamera();
    camera->setGraphicsContext(_window.get());
    camera->setViewport(0, 0, width, height);
    camera->setDrawBuffer(GL_BACK);
    camera->setReadBuffer(GL_BACK);
    camera->setClearColor(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
    camera->setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    camera->setProjectionMatrixAsPerspective(30.0, static_cast<double>(width) / height, 0.5, 1000.0);
    _viewer->realize();
}

ViewerHarness::~ViewerHarness()
{
    if (_viewer.valid())
        _viewer->setDone(true);
}

osgGA::EventQueue& ViewerHarness::events()
{
    return *_window->getEventQueue();
}

void ViewerHarness::setScene(osg::Node* scene)
{
    _viewer->setSceneData(scene);
}

void ViewerHarness::lookAt(const osg::Vec3d& eye, const osg::Vec3d& centre, const osg::Vec3d& up)
{
    _viewer->getCamera()->setViewMatrixAsLookAt(eye, centre, up);
}

void ViewerHarness::frame(int count)
{
    for (int i = 0; i < count; ++i)
        _viewer->frame();
}

osg::Vec2d ViewerHarness::windowPosition(const osg::Vec3d& world) const
{
    const osg::Camera* camera = _viewer->getCamera();
    const osg::Vec3d window =
        world * camera->getViewMatrix() * camera->getProjectionMatrix() * camera->getViewport()->computeWindowMatrix();
    // The window system counts rows from the top.
    return osg::Vec2d(window.x(), _height - window.y());
}

void ViewerHarness::click(const osg::Vec3d& world, int button)
{
    clickAt(windowPosition(world), button);
}

void ViewerHarness::clickAt(const osg::Vec2d& position, int button)
{
    const float x = static_cast<float>(position.x());
    const float y = static_cast<float>(position.y());
    // The event queue numbers buttons as the window system does: 1 left, 2 middle, 3 right.
    const unsigned int number = button == osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON    ? 3
                                : button == osgGA::GUIEventAdapter::MIDDLE_MOUSE_BUTTON ? 2
                                                                                        : 1;
    events().mouseMotion(x, y);
    events().mouseButtonPress(x, y, number);
    frame();
    events().mouseButtonRelease(x, y, number);
    frame();
}

void ViewerHarness::key(int key, bool release)
{
    events().keyPress(key);
    frame();
    if (release)
    {
        events().keyRelease(key);
        frame();
    }
}

osg::ref_ptr<osg::Image> ViewerHarness::capture()
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    osg::Camera* camera = _viewer->getCamera();
    camera->setFinalDrawCallback(new CaptureCallback(image.get()));
    frame();
    camera->setFinalDrawCallback(nullptr);
    return image->data() ? image : nullptr;
}

} // namespace veltra::test
