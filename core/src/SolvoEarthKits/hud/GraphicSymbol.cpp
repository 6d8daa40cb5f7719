#include <SolvoEarthKits/hud/GraphicSymbol.h>

#include <SolvoEarthKits/hud/HudFont.h>
#include <SolvoEarthKits/hud/HudText.h>

#include <osgText/String>
#include <osgWidget/Label>

#include <algorithm>
#include <cmath>

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

// A row of the column as createLabel made it: the embedding, the row box, its swatch and label.
struct LegendRow
{
    osgWidget::Window::EmbeddedWindow* embedded = nullptr;
    osgWidget::Box* box = nullptr;
    osgWidget::Widget* swatch = nullptr;
    osgWidget::Label* label = nullptr;
};

std::vector<LegendRow> rowsOf(osgWidget::Box& column)
{
    std::vector<LegendRow> rows;
    for (const auto& object : column.getObjects())
    {
        LegendRow row;
        row.embedded = dynamic_cast<osgWidget::Window::EmbeddedWindow*>(object.get());
        row.box = row.embedded ? dynamic_cast<osgWidget::Box*>(row.embedded->getWindow()) : nullptr;
        if (!row.box || row.box->getNumObjects() != 2)
            continue;
        row.swatch = row.box->getObjects()[0].get();
        row.label = dynamic_cast<osgWidget::Label*>(row.box->getObjects()[1].get());
        if (row.swatch && row.label)
            rows.push_back(row);
    }
    return rows;
}

} // namespace

GraphicSymbol::GraphicSymbol(osgViewer::View* view, osg::Group* root)
{
    const osg::Vec2 size = viewSize(view);
    osg::ref_ptr<osgWidget::WindowManager> wm = new osgWidget::WindowManager(view, size.x(), size.y(), kLegendNodeMask,
                                                                             osgWidget::WindowManager::WM_PICK_DEBUG);
    _windowManager = wm;

    _column = new osgWidget::Box("vbox", osgWidget::Box::VERTICAL, false);
    // Only the rows' own boxes show: a white frame around them would outshine the labels.
    _column->getBackground()->setColor(0.0f, 0.0f, 0.0f, 0.0f);
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
    row->getBackground()->setColor(0.0f, 0.0f, 0.0f, 0.0f);

    osg::ref_ptr<osgWidget::Label> swatch = new osgWidget::Label("", "");
    swatch->setColor(colour);
    swatch->setPadding(5.0f);

    osg::ref_ptr<osgWidget::Label> label = new osgWidget::Label("", "");
    label->setColor(SolvoEarthUtil::kHudBackingColour);
    label->setFont(SolvoEarthUtil::hudFontFile("fonts/simhei.ttf"));
    label->setLabel(osgText::String(text, osgText::String::ENCODING_UTF8));

    row->addWidget(swatch.get());
    row->addWidget(label.get());

    osgWidget::Window::EmbeddedWindow* embedded = row->embed("", osgWidget::Widget::LAYER_MIDDLE, 0);
    embedded->setColor(0.0f, 0.0f, 0.0f, 0.0f);
    _rows.emplace_back(embedded);
    _column->addWidget(embedded);

    // The column grew, so the corner rule moves it left.
    if (osg::ref_ptr<osgWidget::WindowManager> wm; _windowManager.lock(wm))
    {
        fitRows(*_column, wm->getHeight());
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

void GraphicSymbol::fitRows(osgWidget::Box& column, float windowHeight)
{
    const float textHeight = SolvoEarthUtil::hudTextHeight(windowHeight);
    const float rowHeight = std::round(textHeight * 1.5f);
    const std::vector<LegendRow> rows = rowsOf(column);
    float widest = 0.0f;
    for (const LegendRow& row : rows)
    {
        row.label->setFontSize(static_cast<unsigned int>(textHeight));
        SolvoEarthUtil::styleHudText(*row.label->getText(), textHeight, false);
        widest = std::max(widest, row.label->getTextSize().x());
    }
    for (const LegendRow& row : rows)
    {
        row.swatch->setSize(std::round(textHeight * 3.0f), rowHeight);
        row.label->setSize(std::round(widest + textHeight), rowHeight);
        row.box->resize();
        row.embedded->setSize(row.box->getWidth(), row.box->getHeight());
        row.embedded->setMinimumSize(row.box->getWidth(), row.box->getHeight());
    }
    column.resize();
}

void GraphicSymbol::placeColumn(osgWidget::WindowManager& wm, osgWidget::Box& column)
{
    column.setOrigin(wm.getWidth() - column.getWidth() - kMargin, kMargin);
}
