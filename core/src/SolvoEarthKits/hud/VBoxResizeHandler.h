#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Camera>
#include <osg/observer_ptr>
#include <osgGA/GUIEventHandler>
#include <osgWidget/Box>
#include <osgWidget/WindowManager>

/// Keeps a legend column in the lower right corner of its window manager when the view's window
/// is resized: resizes the manager and its orthographic camera to the window, sizes the rows
/// for the new height (GraphicSymbol::fitRows) and moves the column.
/// Keeps none of the three alive; whatever of them is gone is skipped.
/// Threads: runs on the rendering thread, in the event traversal.
class SOLVOEARTHKITS_EXPORT VBoxResizeHandler : public osgGA::GUIEventHandler
{
public:
    VBoxResizeHandler(osgWidget::WindowManager* wm, osgWidget::Box* box, osg::Camera* camera);

    using osgGA::GUIEventHandler::handle;
    /// Follows a RESIZE event and answers true; answers false to every other event.
    bool handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa, osg::Object* object,
                osg::NodeVisitor* visitor) override;

protected:
    ~VBoxResizeHandler() override = default;

private:
    osg::observer_ptr<osgWidget::WindowManager> _windowManager;
    osg::observer_ptr<osgWidget::Box> _box;
    osg::observer_ptr<osg::Camera> _camera;
};
