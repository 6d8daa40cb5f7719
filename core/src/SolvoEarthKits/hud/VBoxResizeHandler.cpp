#include <SolvoEarthKits/hud/VBoxResizeHandler.h>

#include <SolvoEarthKits/hud/GraphicSymbol.h>

VBoxResizeHandler::VBoxResizeHandler(osgWidget::WindowManager* wm, osgWidget::Box* box, osg::Camera* camera)
    : _windowManager(wm), _box(box), _camera(camera)
{}

bool VBoxResizeHandler::handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter&, osg::Object*,
                               osg::NodeVisitor*)
{
    if (ea.getEventType() != osgGA::GUIEventAdapter::RESIZE)
        return false;

    const int width = ea.getWindowWidth();
    const int height = ea.getWindowHeight();
    osg::ref_ptr<osgWidget::WindowManager> wm;
    osg::ref_ptr<osgWidget::Box> box;
    osg::ref_ptr<osg::Camera> camera;
    _windowManager.lock(wm);
    _box.lock(box);
    _camera.lock(camera);

    // The manager's own size is the layout space; it only follows the window while its camera
    // still shows it.
    if (camera.valid())
    {
        camera->setProjectionMatrix(osg::Matrix::ortho2D(0.0, width, 0.0, height));
        if (wm.valid())
            wm->setSize(width, height);
    }
    if (wm.valid())
    {
        wm->setWindowSize(width, height);
        if (box.valid())
        {
            GraphicSymbol::fitRows(*box, static_cast<float>(height));
            GraphicSymbol::placeColumn(*wm, *box);
        }
        wm->resizeAllWindows(true);
    }
    return true;
}
