#pragma once

#include <osg/Image>
#include <osg/Node>
#include <osgGA/GUIEventAdapter>
#include <osgViewer/Viewer>

#include <string>

namespace veltra::test {

/// A real osgViewer::Viewer in a window on the test display, driven the way a user drives it:
/// mouse and key events go into the window's event queue and are handled by the next frame.
/// Without a camera manipulator the camera stays where lookAt puts it.
class ViewerHarness
{
public:
    explicit ViewerHarness(int width = 200, int height = 200);
    ~ViewerHarness();
    ViewerHarness(const ViewerHarness&) = delete;
    ViewerHarness& operator=(const ViewerHarness&) = delete;

    /// False when no window could be opened; `why()` then says why.
    bool valid() const { return _window.valid(); }
    const std::string& why() const { return _why; }

    osgViewer::Viewer& viewer() { return *_viewer; }
    osgGA::EventQueue& events();
    int width() const { return _width; }
    int height() const { return _height; }

    void setScene(osg::Node* scene);
    /// Places the camera (30 degree vertical field of view, fixed near and far planes).
    void lookAt(const osg::Vec3d& eye, const osg::Vec3d& centre, const osg::Vec3d& up);

    /// Runs `count` frames.
    void frame(int count = 1);

    /// The window position (pixels, origin at the top left as the window system reports it)
    /// at which `world` appears.
    osg::Vec2d windowPosition(const osg::Vec3d& world) const;

    /// Presses and releases `button` (a GUIEventAdapter::MouseButtonMask value) at the window
    /// position of `world`, running a frame after each.
    void click(const osg::Vec3d& world, int button = osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON);
    /// The same at a window position.
    void clickAt(const osg::Vec2d& position, int button = osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON);
    /// Presses (and with `release`, releases) a key, then runs a frame.
    void key(int key, bool release = true);

    /// The colour buffer after one more frame (RGBA, row 0 at the bottom).
    osg::ref_ptr<osg::Image> capture();

private:
    int _width;
    int _height;
    std::string _why;
    osg::ref_ptr<osgViewer::Viewer> _viewer;
    osg::ref_ptr<osgViewer::GraphicsWindow> _window;
};

} // namespace veltra::test
