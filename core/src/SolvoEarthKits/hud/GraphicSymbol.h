#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>
#include <SolvoEarthKits/hud/VBoxResizeHandler.h>

#include <osg/Group>
#include <osg/Vec4f>
#include <osg/observer_ptr>
#include <osgViewer/View>
#include <osgWidget/Box>
#include <osgWidget/Window>
#include <osgWidget/WindowManager>

#include <string>
#include <vector>

/// A legend in the lower right corner of a view: a column of rows, each a coloured swatch and a
/// text label. The labels are sized with the window like the text panels (hudTextHeight) and
/// drawn light on a dark box. The legend lives in the scene (its camera under the root given) and stays there
/// when this object goes; copies share the same legend.
/// Threads: the page's thread, while the rendering thread draws (the host's usual scene changes).
class SOLVOEARTHKITS_EXPORT GraphicSymbol
{
public:
    /// Builds the legend over `view`'s viewport, puts its camera under `root` and installs a
    /// VBoxResizeHandler on `view`. Without a viewport yet, the legend waits for the first resize.
    GraphicSymbol(osgViewer::View* view, osg::Group* root);
    GraphicSymbol(const GraphicSymbol&) = default;
    GraphicSymbol& operator=(const GraphicSymbol&) = default;
    /// Drops this object's references; the legend stays in the scene and the handler on the view.
    ~GraphicSymbol();

    /// Appends a row showing `colour` and `text` (UTF-8); the row box returned lives as long as
    /// the row stays in the column.
    osgWidget::Box* createLabel(const std::string& text, osg::Vec4f colour);
    /// Removes every row this object added, oldest first.
    void clearAllLabel();

    /// The legend's window manager (null once the scene has dropped it).
    osgWidget::WindowManager* windowManager() const { return _windowManager.get(); }
    /// The legend's column, named "vbox".
    osgWidget::Box* column() const { return _column.get(); }

    /// Puts `column` 20 units from the right and bottom edges of `wm`.
    static void placeColumn(osgWidget::WindowManager& wm, osgWidget::Box& column);
    /// Sizes the rows of `column` for a window `windowHeight` pixels high: label text of
    /// hudTextHeight, rows a little taller, every label as wide as the widest text.
    static void fitRows(osgWidget::Box& column, float windowHeight);

private:
    osg::observer_ptr<osgWidget::WindowManager> _windowManager; // owned by the scene, through its camera
    osg::ref_ptr<osgWidget::Box> _column;
    osg::ref_ptr<VBoxResizeHandler> _resizeHandler;
    // In creation order; the column owns them, so a row that a copy removed reads as null.
    std::vector<osg::observer_ptr<osgWidget::Window::EmbeddedWindow>> _rows;
};
