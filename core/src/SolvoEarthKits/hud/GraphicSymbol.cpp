#include <SolvoEarthKits/hud/GraphicSymbol.h>

#include <SolvoEarthKits/hud/HudFont.h>

#include <osgText/String>
#include <osgWidget/Label>

namespace {

const unsigned int kLegendNodeMask = 0xF0000000;
const float kMargin = 20.0f;

// The viewport's size, or the window's while the view has no viewport yet (a view not realized).
osg::Vec2 viewSize(osgViewer::View* view)
{
    if (!view || !view->getCamera())
        return osg::Vec2();
    const osg::Camera* camera = view->getCamera();
    if (const osg::Viewport* viewport = camera->getViewport())
        return osg::Vec2(viewport->width(), viewport->height());
    if (const osg::GraphicsContext* context = camera->getGraphicsContext())
    {
        if (const osg::GraphicsContext::Traits* traits = context->getTraits())
            return osg::Vec2(traits->width, traits->height);
    }
    return osg::Vec2();
}

} // namespace

GraphicSymbol::GraphicSymbol(osgViewer::View* view, osg::Group* root)
{
    const osg::Vec2 size = viewSize(view);
    osg::ref_ptr<osgWidget::WindowManager> wm = new osgWidget::WindowManager(view, size.x(), size.y(), kLegendNodeMask,
                                                                             osgWidget::WindowManager::WM_PICK_DEBUG);
    _windowManager = wm;

    _column = new osgWidget::Box("vbox", osgWidget::Box::VERTICAL, false);
    // Placed once managed: an unmanaged window reports a width of -1.
    wm->addChild(_column.get());
    placeColumn(*wm, *_column);

    // The camera takes the manager over; the scene keeps both alive from here on.
    osg::ref_ptr<osg::Camera> camera = wm->createParentOrthoCamera();
    if (root)
        root->addChild(camera.get());

    _resizeHandler = new VBoxResizeHandler(wm.get(), _column.get(), camera.get());
    if (view)
        view->addEventHandler(_resizeHandler.get());
}

GraphicSymbol::~GraphicSymbol() = default;

osgWidget::Box* GraphicSymbol::createLabel(const std::string& text, osg::Vec4f colour)
{
    osg::ref_ptr<osgWidget::Box> row = new osgWidget::Box("HBOX", osgWidget::Box::HORIZONTAL, false);

    osg::ref_ptr<osgWidget::Label> swatch = new osgWidget::Label("", "");
    swatch->setColor(colour);
    swatch->setPadding(5.0f);
    swatch->setWidth(60.0f);
    swatch->setHeight(20.0f);

    osg::ref_ptr<osgWidget::Label> label = new osgWidget::Label("", "");
    label->setFontSize(13);
    label->setFontColor(0.0f, 0.0f, 0.0f, 1.0f);
    label->setFont(SolvoEarthUtil::hudFontFile("fonts/simhei.ttf"));
    label->setLabel(osgText::String(text, osgText::String::ENCODING_UTF8));
    label->setWidth(80.0f);
    label->setHeight(20.0f);

    row->addWidget(swatch.get());
    row->addWidget(label.get());

    osgWidget::Window::EmbeddedWindow* embedded = row->embed("", osgWidget::Widget::LAYER_MIDDLE, 0);
    _rows.emplace_back(embedded);
    _column->addWidget(embedded);

    // The column grew, so the corner rule moves it left.
    if (osg::ref_ptr<osgWidget::WindowManager> wm; _windowManager.lock(wm))
    {
        placeColumn(*wm, *_column);
        wm->resizeAllWindows(true);
    }
    return row.get();
}

void GraphicSymbol::clearAllLabel()
{
    for (const osg::observer_ptr<osgWidget::Window::EmbeddedWindow>& row : _rows)
    {
        osg::ref_ptr<osgWidget::Window::EmbeddedWindow> alive;
        if (row.lock(alive))
            _column->removeWidget(alive.get());
    }
    _rows.clear();
    if (osg::ref_ptr<osgWidget::WindowManager> wm; _windowManager.lock(wm))
    {
        placeColumn(*wm, *_column);
        wm->resizeAllWindows(true);
    }
}

void GraphicSymbol::placeColumn(osgWidget::WindowManager& wm, osgWidget::Box& column)
{
    column.setOrigin(wm.getWidth() - column.getWidth() - kMargin, kMargin);
}
