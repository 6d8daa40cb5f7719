#include "OffscreenRender.h"
#include "ViewerHarness.h"

#include <SolvoEarthKits/hud/GraphicSymbol.h>
#include <SolvoEarthKits/hud/HudFont.h>
#include <SolvoEarthKits/hud/HudText.h>
#include <SolvoEarthKits/hud/ScreenInfoLB.h>
#include <SolvoEarthKits/hud/ScreenInfoLT.h>

#include <osg/Geode>
#include <osgWidget/Label>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace veltra::test;

namespace {

// Every code point of `utf8` has a glyph of its own in `font`, not the box that stands in for
// characters the font lacks (as drawn for a code point no font has).
::testing::AssertionResult hasGlyphs(osgText::Font* font, const std::string& utf8)
{
    if (!font)
        return ::testing::AssertionFailure() << "no font";
    const osgText::FontResolution resolution(32, 32);
    const osgText::Glyph* missing = font->getGlyph(resolution, 0x10FFFD);
    for (unsigned int code : osgText::String(utf8, osgText::String::ENCODING_UTF8))
    {
        const osgText::Glyph* glyph = font->getGlyph(resolution, code);
        const bool standIn = missing && glyph && glyph->s() == missing->s() && glyph->t() == missing->t() &&
                             std::memcmp(glyph->data(), missing->data(), glyph->getTotalSizeInBytes()) == 0;
        if (!glyph || glyph->s() <= 0 || glyph->t() <= 0 || standIn)
            return ::testing::AssertionFailure()
                   << "no glyph for U+" << std::hex << code << " in " << font->getFileName();
    }
    return ::testing::AssertionSuccess();
}

osg::ref_ptr<osgGA::GUIEventAdapter> event(osgGA::GUIEventAdapter::EventType type, int width = 0, int height = 0)
{
    osg::ref_ptr<osgGA::GUIEventAdapter> result = new osgGA::GUIEventAdapter;
    result->setEventType(type);
    result->setWindowRectangle(0, 0, width, height);
    return result;
}

bool isOrtho(const osg::Matrixd& projection, double width, double height)
{
    const osg::Matrixd expected = osg::Matrixd::ortho2D(0, width, 0, height);
    for (int i = 0; i < 16; ++i)
        if (std::abs(projection.ptr()[i] - expected.ptr()[i]) > 1e-9)
            return false;
    return true;
}

const osgWidget::Window* rowWindow(const osgWidget::Box& column, unsigned int i)
{
    auto* embedded = dynamic_cast<const osgWidget::Window::EmbeddedWindow*>(column.getObjects().at(i).get());
    return embedded ? embedded->getWindow() : nullptr;
}

// A legend over a 1024 x 768 view without a window: everything but drawing works without one.
class GraphicSymbolTest : public ::testing::Test
{
protected:
    void SetUp() override { view->getCamera()->setViewport(0, 0, 1024, 768); }

    // 20 units from the right and bottom edges of a manager `width` wide.
    void expectInCorner(const osgWidget::Box& column, float width)
    {
        EXPECT_FLOAT_EQ(column.getOrigin().x() + column.getWidth(), width - 20.0f);
        EXPECT_FLOAT_EQ(column.getOrigin().y(), 20.0f);
    }

    osg::ref_ptr<osgViewer::View> view = new osgViewer::View;
    osg::ref_ptr<osg::Group> root = new osg::Group;
};

} // namespace

TEST_F(GraphicSymbolTest, RowsStackInTheLowerRightCornerWithTheirColourAndText)
{
    GraphicSymbol legend(view.get(), root.get());
    ASSERT_EQ(root->getNumChildren(), 1u);
    EXPECT_EQ(root->getChild(0)->asCamera()->getChild(0), legend.windowManager());
    EXPECT_FLOAT_EQ(legend.windowManager()->getWidth(), 1024.0f);
    expectInCorner(*legend.column(), 1024.0f);

    const osg::Vec4f colour(0.2f, 0.4f, 0.6f, 0.5f);
    osgWidget::Box* first = legend.createLabel("钢结构", colour);
    osgWidget::Box* second = legend.createLabel("B", osg::Vec4f(0, 1, 0, 1));
    ASSERT_EQ(legend.column()->getNumObjects(), 2u);
    EXPECT_EQ(rowWindow(*legend.column(), 0), first);
    EXPECT_EQ(rowWindow(*legend.column(), 1), second);
    expectInCorner(*legend.column(), 1024.0f);

    ASSERT_EQ(first->getNumObjects(), 2u);
    const osgWidget::Widget* swatch = first->getObjects()[0].get();
    for (auto corner : {osgWidget::Widget::LOWER_LEFT, osgWidget::Widget::LOWER_RIGHT, osgWidget::Widget::UPPER_RIGHT,
                        osgWidget::Widget::UPPER_LEFT})
        EXPECT_EQ(swatch->getColor(corner), colour) << "corner " << corner;
    auto* text = dynamic_cast<osgWidget::Label*>(first->getObjects()[1].get());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->getLabel(), "钢结构");
    EXPECT_TRUE(hasGlyphs(text->getText()->getFont(), "钢结构"));
}

TEST_F(GraphicSymbolTest, ClearAllLabelEmptiesTheColumnForANewFirstRow)
{
    GraphicSymbol legend(view.get(), root.get());
    legend.clearAllLabel();
    EXPECT_EQ(legend.column()->getNumObjects(), 0u);

    legend.createLabel("A", osg::Vec4f(1, 0, 0, 1));
    GraphicSymbol copy = legend;
    legend.createLabel("B", osg::Vec4f(0, 1, 0, 1));
    legend.clearAllLabel();
    EXPECT_EQ(legend.column()->getNumObjects(), 0u);
    // The copy's row went with the original's clearing and is gone: clearing again must not touch it.
    copy.clearAllLabel();

    osgWidget::Box* fresh = legend.createLabel("C", osg::Vec4f(0, 0, 1, 1));
    ASSERT_EQ(legend.column()->getNumObjects(), 1u);
    EXPECT_EQ(rowWindow(*legend.column(), 0), fresh);
    expectInCorner(*legend.column(), 1024.0f);
}

TEST_F(GraphicSymbolTest, ResizeEventsMoveTheLegendAndOthersPassThrough)
{
    GraphicSymbol legend(view.get(), root.get());
    legend.createLabel("A", osg::Vec4f(1, 0, 0, 1));
    ASSERT_EQ(view->getEventHandlers().size(), 1u);
    auto* resize = dynamic_cast<VBoxResizeHandler*>(view->getEventHandlers().front().get());
    ASSERT_NE(resize, nullptr);

    EXPECT_FALSE(resize->handle(*event(osgGA::GUIEventAdapter::PUSH), *view, nullptr, nullptr));
    EXPECT_FLOAT_EQ(legend.windowManager()->getWidth(), 1024.0f);

    auto labelText = [&] {
        const osgWidget::Window* row = rowWindow(*legend.column(), 0);
        auto* label = dynamic_cast<const osgWidget::Label*>(row->getObjects().at(1).get());
        return label ? label->getText() : nullptr;
    };
    ASSERT_NE(labelText(), nullptr);
    EXPECT_FLOAT_EQ(labelText()->getCharacterHeight(), SolvoEarthUtil::hudTextHeight(768.0f));
    EXPECT_EQ(labelText()->getColor(), SolvoEarthUtil::kHudTextColour);

    EXPECT_TRUE(resize->handle(*event(osgGA::GUIEventAdapter::RESIZE, 800, 600), *view, nullptr, nullptr));
    EXPECT_TRUE(isOrtho(root->getChild(0)->asCamera()->getProjectionMatrix(), 800, 600));
    EXPECT_FLOAT_EQ(legend.windowManager()->getHeight(), 600.0f);
    expectInCorner(*legend.column(), 800.0f);
    EXPECT_FLOAT_EQ(labelText()->getCharacterHeight(), SolvoEarthUtil::hudTextHeight(600.0f));
}

TEST_F(GraphicSymbolTest, ResizeHandlerSkipsWhatIsGone)
{
    osg::ref_ptr<osgWidget::WindowManager> wm = new osgWidget::WindowManager(nullptr, 100, 100);
    osg::ref_ptr<osgWidget::Box> box = new osgWidget::Box("vbox", osgWidget::Box::VERTICAL);
    wm->addChild(box.get());
    osg::ref_ptr<osg::Camera> camera = new osg::Camera;
    osg::ref_ptr<VBoxResizeHandler> resize = new VBoxResizeHandler(wm.get(), box.get(), camera.get());
    camera = nullptr;
    const auto resized = event(osgGA::GUIEventAdapter::RESIZE, 300, 200);

    // Without its camera the manager keeps its layout size, and the column keeps to it.
    EXPECT_TRUE(resize->handle(*resized, *view, nullptr, nullptr));
    EXPECT_FLOAT_EQ(wm->getWidth(), 100.0f);
    expectInCorner(*box, 100.0f);
    wm->removeChild(box.get());
    box = nullptr;
    EXPECT_TRUE(resize->handle(*resized, *view, nullptr, nullptr));
    wm = nullptr;
    EXPECT_TRUE(resize->handle(*resized, *view, nullptr, nullptr));
}

TEST(HudFontTest, MissingFontFallsBackToOneWithChineseGlyphs)
{
    const std::string file = SolvoEarthUtil::hudFontFile("no-such-font-here.ttf");
    EXPECT_TRUE(hasGlyphs(osgText::readRefFontFile(file).get(), "中文"));
    EXPECT_EQ(SolvoEarthUtil::hudFontFile(file), file) << "a readable font is kept";
}

TEST(HudTextTest, HeightIsAThirtiethOfTheWindowWithinReadableBounds)
{
    struct Case
    {
        float windowHeight, textHeight;
    };
    for (const Case& c : {Case{-5, 14}, Case{0, 14}, Case{300, 14}, Case{420, 14}, Case{600, 20}, Case{768, 26},
                          Case{1080, 36}, Case{1200, 40}, Case{2160, 40}})
        EXPECT_EQ(SolvoEarthUtil::hudTextHeight(c.windowHeight), c.textHeight) << "window " << c.windowHeight;
}

// Light letters on a dark box: the contrast ratio of the two colours (as the web's accessibility
// rules compute it, the box taken as opaque) is well above the 4.5 that small text needs.
TEST(HudTextTest, TextColoursContrastWithTheirBox)
{
    auto luminance = [](const osg::Vec4& c) {
        auto channel = [](float v) { return v <= 0.03928f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); };
        return 0.2126f * channel(c.r()) + 0.7152f * channel(c.g()) + 0.0722f * channel(c.b());
    };
    const float ratio =
        (luminance(SolvoEarthUtil::kHudTextColour) + 0.05f) / (luminance(SolvoEarthUtil::kHudBackingColour) + 0.05f);
    EXPECT_GT(ratio, 7.0f);
    EXPECT_GE(SolvoEarthUtil::kHudBackingColour.a(), 0.6f);
}

TEST(ScreenInfoTest, LayoutSizesAndPlacesTheTextForTheWindow)
{
    osg::ref_ptr<ScreenInfo> upper = new ScreenInfoLT;
    osg::ref_ptr<ScreenInfo> lower = new ScreenInfoLB;
    struct Case
    {
        ScreenInfo* panel;
        int width, height;
        float textHeight;
        osg::Vec3 position; // margin: 0.3 of the text height (the box's) and 8 pixels
    };
    for (const Case& c :
         {Case{upper.get(), 960, 600, 20, {14, 586, 0}}, Case{upper.get(), 1920, 1080, 36, {18.8f, 1061.2f, 0}},
          Case{lower.get(), 960, 600, 20, {14, 14, 0}}, Case{lower.get(), 400, 300, 14, {12.2f, 12.2f, 0}}})
    {
        c.panel->layout(c.width, c.height);
        const osgText::Text* text = c.panel->text();
        EXPECT_FLOAT_EQ(text->getCharacterHeight(), c.textHeight) << c.width << " x " << c.height;
        EXPECT_NEAR((text->getPosition() - c.position).length(), 0.0f, 1e-3f) << c.width << " x " << c.height;
        EXPECT_EQ(text->getColor(), SolvoEarthUtil::kHudTextColour);
        EXPECT_NE(text->getDrawMode() & osgText::Text::FILLEDBOUNDINGBOX, 0u);
    }
    // A window that is not there yet changes nothing.
    upper->layout(0, 0);
    EXPECT_FLOAT_EQ(upper->text()->getCharacterHeight(), 36.0f);
}

TEST(ScreenInfoTest, SetInfoReplacesTheTextWithChineseGlyphs)
{
    osg::ref_ptr<ScreenInfoLT> panel = new ScreenInfoLT;
    const osgText::Text* text = panel->text();
    auto glyphCount = [&] {
        std::size_t count = 0;
        for (const auto& entry : text->getTextureGlyphQuadMap())
            count += entry.second.getGlyphs().size();
        return count;
    };

    panel->setInfo("施工进度 42%");
    EXPECT_EQ(text->getText().createUTF8EncodedString(), "施工进度 42%");
    EXPECT_TRUE(hasGlyphs(const_cast<osgText::Font*>(text->getFont()), "施工进度"));
    EXPECT_GE(glyphCount(), 4u);

    panel->setInfo("");
    EXPECT_TRUE(text->getText().empty());
    EXPECT_EQ(glyphCount(), 0u);
}

TEST(ScreenInfoRender, PanelsDrawTheirTextInTheirCorners)
{
    const int width = 960;
    const int height = 540;
    osg::ref_ptr<ScreenInfoLT> upper = new ScreenInfoLT;
    osg::ref_ptr<ScreenInfoLB> lower = new ScreenInfoLB;
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(upper.get());
    scene->addChild(lower.get());
    // Pixels of the panels' light letters in a band of rows of the left half.
    auto letterPixels = [](const osg::Image& image, int fromRow, int toRow) {
        int count = 0;
        for (int y = fromRow; y < toRow; ++y)
            for (int x = 0; x < image.s() / 2; ++x)
                count += pixelAt(image, x, y).r() > 170 && pixelAt(image, x, y).g() > 170 ? 1 : 0;
        return count;
    };

    for (bool top : {true, false})
    {
        upper->setInfo(top ? "上方 Upper" : "");
        lower->setInfo(top ? "" : "下方 Lower");
        std::string why;
        osg::ref_ptr<osg::Image> image = renderOffscreen(scene.get(), width, height, {}, &why);
        ASSERT_TRUE(image.valid()) << why;
        EXPECT_EQ(letterPixels(*image, height - height / 8, height) > 20, top) << "upper band, text on top: " << top;
        EXPECT_EQ(letterPixels(*image, 0, height / 8) > 20, !top) << "lower band, text on top: " << top;
    }
}

TEST(GraphicSymbolRender, LegendFollowsTheWindowIntoTheLowerRightCorner)
{
    ViewerHarness harness(320, 240);
    ASSERT_TRUE(harness.valid()) << harness.why();
    osg::ref_ptr<osg::Group> root = new osg::Group;
    harness.setScene(root.get());
    GraphicSymbol legend(&harness.viewer(), root.get());
    legend.createLabel("红色", osg::Vec4f(1, 0, 0, 1));

    // The swatch is the row's left part: 60 wide, padded by 5.
    auto swatchCentre = [&] {
        const osgWidget::Box& column = *legend.column();
        return osg::Vec2i(static_cast<int>(column.getOrigin().x()) + 35, 20 + static_cast<int>(column.getHeight() / 2));
    };
    auto isRed = [](const osg::Image& image, const osg::Vec2i& at) {
        return colourNear(pixelAt(image, at.x(), at.y()), osg::Vec4ub(255, 0, 0, 255));
    };

    osg::ref_ptr<osg::Image> before = harness.capture();
    ASSERT_TRUE(before.valid());
    const osg::Vec2i oldSwatch = swatchCentre();
    EXPECT_TRUE(isRed(*before, oldSwatch)) << describe(pixelAt(*before, oldSwatch.x(), oldSwatch.y()));

    // Grow the window; the window system reports the new size as a resize event.
    auto* window = dynamic_cast<osgViewer::GraphicsWindow*>(harness.viewer().getCamera()->getGraphicsContext());
    ASSERT_NE(window, nullptr);
    window->setWindowRectangle(0, 0, 480, 360);
    harness.events().windowResize(0, 0, 480, 360);
    osg::ref_ptr<osg::Image> after = harness.capture();
    ASSERT_TRUE(after.valid());
    EXPECT_TRUE(isOrtho(root->getChild(0)->asCamera()->getProjectionMatrix(), 480, 360));
    const osg::Vec2i newSwatch = swatchCentre();
    EXPECT_EQ(newSwatch.x() - oldSwatch.x(), 160);
    EXPECT_TRUE(isRed(*after, newSwatch)) << describe(pixelAt(*after, newSwatch.x(), newSwatch.y()));
    EXPECT_FALSE(isRed(*after, oldSwatch));
}
