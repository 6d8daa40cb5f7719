#include <osgEarthAnnotation/PlaceNode>

#include <osgEarth/MapNode>

#include "NotifyCapture.h"
#include "OffscreenRender.h"
#include "TempDir.h"
#include "VirtualDisplay.h"

#include <gtest/gtest.h>
#include <osg/Depth>
#include <osg/NodeVisitor>
#include <osgDB/WriteFile>

#include <utility>
#include <vector>

using namespace osgEarth;
using namespace osgEarth::Annotation;
using namespace osgEarth::Symbology;

namespace {

// The marker's parts, found by the names its drawables carry, and the transform placing it in the world.
struct MarkerParts : public osg::NodeVisitor
{
    MarkerParts() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) { setNodeMaskOverride(~0u); }
    void apply(osg::MatrixTransform& transform) override
    {
        if (!anchor)
            anchor = &transform;
        traverse(transform);
    }
    void apply(osg::Drawable& drawable) override
    {
        if (drawable.getName() == "veltra.place.icon")
            icon = drawable.asGeometry();
        else if (drawable.getName() == "veltra.place.label")
            label = dynamic_cast<osgText::Text*>(&drawable);
    }
    osg::MatrixTransform* anchor = nullptr;
    osg::Geometry* icon = nullptr;
    osgText::Text* label = nullptr;
};

MarkerParts partsOf(PlaceNode& place)
{
    MarkerParts parts;
    place.accept(parts);
    return parts;
}

std::string labelText(const MarkerParts& parts)
{
    return parts.label ? parts.label->getText().createUTF8EncodedString() : std::string();
}

osg::ref_ptr<osg::Image> solidImage(int width, int height, const osg::Vec4ub& colour)
{
    osg::ref_ptr<osg::Image> image = new osg::Image();
    image->allocateImage(width, height, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::copy(colour.ptr(), colour.ptr() + 4, image->data(x, y));
    return image;
}

// A style from CSS-like properties, read the way style sheets read them.
Style styleOf(const std::vector<std::pair<std::string, std::string>>& properties)
{
    Config conf("marker");
    for (const auto& [name, value] : properties)
        conf.add(name, value);
    Style style;
    style.fromSLD(conf);
    return style;
}

osg::BoundingBox iconBox(const MarkerParts& parts)
{
    osg::BoundingBox box;
    for (const osg::Vec3& v : *static_cast<const osg::Vec3Array*>(parts.icon->getVertexArray()))
        box.expandBy(v);
    return box;
}

float iconAlpha(const MarkerParts& parts)
{
    const auto* env = dynamic_cast<const osg::TexEnvCombine*>(
        parts.icon->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXENV));
    return env ? env->getConstantColor().a() : -1.0f;
}

class PlaceNodeTest : public ::testing::Test
{
protected:
    osg::ref_ptr<MapNode> _globe = new MapNode();
    const SpatialReference* _srs = _globe->getMapSRS();
    osg::ref_ptr<osg::Image> _red = solidImage(32, 16, osg::Vec4ub(255, 0, 0, 255));
};

} // namespace

TEST_F(PlaceNodeTest, ConstructionPicksIconAndLabel)
{
    const Style withContent = styleOf({{"text-content", "\"From style\""}});
    const struct
    {
        const char* name;
        osg::Image* icon;
        std::string text;
        Style style;
        bool hasIcon;
        std::string label;
    } cases[] = {
        {"icon and text", _red.get(), "Beijing", Style(), true, "Beijing"},
        {"text only", nullptr, "Beijing", Style(), false, "Beijing"},
        {"empty text takes the style's", _red.get(), "", withContent, true, "From style"},
        {"given text beats the style's", _red.get(), "Given", withContent, true, "Given"},
        {"icon only", _red.get(), "", Style(), true, ""},
        {"utf-8 label", nullptr, "\xe5\x8c\x97\xe4\xba\xac", Style(), false, "\xe5\x8c\x97\xe4\xba\xac"},
    };
    for (const auto& c : cases)
    {
        osg::ref_ptr<PlaceNode> place =
            new PlaceNode(_globe.get(), GeoPoint(_srs, 116.4, 39.9, 0.0), c.icon, c.text, c.style);
        const MarkerParts parts = partsOf(*place);
        EXPECT_EQ(parts.icon != nullptr, c.hasIcon) << c.name;
        EXPECT_EQ(labelText(parts), c.label) << c.name;
        EXPECT_EQ(place->getText(), c.text) << c.name;
        EXPECT_EQ(place->getIconImage(), c.icon) << c.name;
    }
}

TEST_F(PlaceNodeTest, IconFromTheStyleIsReadThroughOsgDB)
{
    veltra::test::TempDir dir;
    const std::string path = dir.file("pin.png");
    ASSERT_TRUE(osgDB::writeImageFile(*_red, path));
    const GeoPoint where(_srs, 10.0, 20.0, 0.0);

    osg::ref_ptr<PlaceNode> byText = new PlaceNode(_globe.get(), where, "Pin", styleOf({{"icon", "\"" + path + "\""}}));
    ASSERT_NE(byText->getIconImage(), nullptr);
    EXPECT_EQ(byText->getIconImage()->s(), 32);
    EXPECT_NE(partsOf(*byText).icon, nullptr);

    osg::ref_ptr<PlaceNode> byStyle = new PlaceNode(
        _globe.get(), where, styleOf({{"icon", "\"" + path + "\""}, {"text-content", "\"Styled\""}}), nullptr);
    EXPECT_NE(byStyle->getIconImage(), nullptr);
    EXPECT_EQ(labelText(partsOf(*byStyle)), "Styled");

    veltra::test::NotifyCapture capture(osg::WARN);
    osg::ref_ptr<PlaceNode> missing =
        new PlaceNode(_globe.get(), where, "Lost", styleOf({{"icon", "\"" + dir.file("absent.png") + "\""}}));
    EXPECT_EQ(missing->getIconImage(), nullptr);
    EXPECT_EQ(partsOf(*missing).icon, nullptr);
    EXPECT_EQ(labelText(partsOf(*missing)), "Lost") << "a missing icon still leaves the label";
    EXPECT_TRUE(capture.contains("absent.png"));
}

TEST_F(PlaceNodeTest, IconKeepsItsPixelSizeAlignmentAndHeadingWithTheLabelBeside)
{
    // The 32 x 16 icon in pixels around the anchor, and where the label starts.
    const struct
    {
        std::vector<std::pair<std::string, std::string>> properties;
        osg::Vec4 box; // xMin, yMin, xMax, yMax
        osg::Vec2 label;
    } cases[] = {
        {{}, {-16, 0, 16, 16}, {18, 8}},
        {{{"icon-scale", "2"}, {"icon-align", "left-top"}}, {0, -32, 64, 0}, {66, -16}},
        {{{"icon-align", "right-center"}}, {-32, -8, 0, 8}, {2, 0}},
        // A quarter turn clockwise stands the wide icon upright; the label keeps to the unturned box.
        {{{"icon-align", "center-center"}, {"icon-heading", "90"}}, {-8, -16, 8, 16}, {18, 0}},
        // A scale that would collapse or flip the icon keeps its pixel size.
        {{{"icon-scale", "0"}}, {-16, 0, 16, 16}, {18, 8}},
        {{{"icon-scale", "1e9"}}, {-16, 0, 16, 16}, {18, 8}},
    };
    for (const auto& c : cases)
    {
        osg::ref_ptr<PlaceNode> place =
            new PlaceNode(_globe.get(), GeoPoint(_srs, 0.0, 0.0, 0.0), _red.get(), "Label", styleOf(c.properties));
        const MarkerParts parts = partsOf(*place);
        ASSERT_NE(parts.icon, nullptr);
        const osg::BoundingBox box = iconBox(parts);
        const std::string context = c.properties.empty() ? "defaults" : c.properties.back().first;
        EXPECT_NEAR(box.xMin(), c.box[0], 1e-4) << context;
        EXPECT_NEAR(box.yMin(), c.box[1], 1e-4) << context;
        EXPECT_NEAR(box.xMax(), c.box[2], 1e-4) << context;
        EXPECT_NEAR(box.yMax(), c.box[3], 1e-4) << context;
        ASSERT_NE(parts.label, nullptr);
        EXPECT_NEAR(parts.label->getPosition().x(), c.label.x(), 1e-4) << context;
        EXPECT_NEAR(parts.label->getPosition().y(), c.label.y(), 1e-4) << context;
        EXPECT_EQ(parts.label->getAlignment(), osgText::Text::LEFT_BASE_LINE) << context;
    }
}

TEST_F(PlaceNodeTest, LabelTakesSizeColourAndHaloFromTheStyle)
{
    osg::ref_ptr<PlaceNode> place =
        new PlaceNode(_globe.get(), GeoPoint(_srs, 0.0, 0.0, 0.0), nullptr, "Label",
                      styleOf({{"text-size", "24"}, {"text-fill", "#00ff00"}, {"text-halo", "#000000"}}));
    osgText::Text* label = partsOf(*place).label;
    ASSERT_NE(label, nullptr);
    EXPECT_FLOAT_EQ(label->getCharacterHeight(), 24.0f);
    EXPECT_EQ(label->getColor(), osg::Vec4(0, 1, 0, 1));
    EXPECT_EQ(label->getBackdropType(), osgText::Text::OUTLINE);
    EXPECT_EQ(label->getBackdropColor(), osg::Vec4(0, 0, 0, 1));
    EXPECT_EQ(label->getPosition(), osg::Vec3(0, 0, 0)) << "without an icon the label starts at the point";

    place->setText("");
    EXPECT_EQ(partsOf(*place).label, nullptr);
    place->setText("Again");
    EXPECT_EQ(labelText(partsOf(*place)), "Again");
}

TEST_F(PlaceNodeTest, PositionMovesTheAnchor)
{
    osg::ref_ptr<PlaceNode> place = new PlaceNode(_globe.get(), GeoPoint(_srs, 0.0, 0.0, 0.0), _red.get(), "P");
    const struct
    {
        GeoPoint point;
        osg::Vec3d geographic;
    } cases[] = {
        {GeoPoint(_srs, 116.4, 39.9, 50.0), {116.4, 39.9, 50.0}},
        {GeoPoint(_srs, -70.0, -33.0, 1000.0, ALTMODE_RELATIVE), {-70.0, -33.0, 1000.0}},
    };
    for (const auto& c : cases)
    {
        place->setPosition(c.point);
        EXPECT_EQ(place->getPosition(), c.point);
        osg::Vec3d expected;
        ASSERT_TRUE(_srs->transformToWorld(c.geographic, expected));
        const MarkerParts parts = partsOf(*place);
        ASSERT_NE(parts.anchor, nullptr);
        EXPECT_LT((parts.anchor->getMatrix().getTrans() - expected).length(), 1e-3);
        EXPECT_NE(parts.anchor->getNodeMask(), 0u);
    }

    place->setPosition(GeoPoint());
    EXPECT_EQ(partsOf(*place).anchor->getNodeMask(), 0u) << "a marker without a position is not drawn";
}

TEST_F(PlaceNodeTest, TransparencyChangesOnlyTheIconsState)
{
    osg::ref_ptr<PlaceNode> place = new PlaceNode(_globe.get(), GeoPoint(_srs, 0.0, 0.0, 0.0), _red.get(), "P");
    const MarkerParts before = partsOf(*place);
    ASSERT_NE(before.icon, nullptr);
    EXPECT_FLOAT_EQ(iconAlpha(before), 1.0f);
    const osg::Vec4 labelColour = before.label->getColor();

    for (const float alpha : {0.3f, 1.0f, 0.3f})
    {
        place->setImageTranspareny(alpha);
        const MarkerParts after = partsOf(*place);
        EXPECT_EQ(after.icon, before.icon) << "the icon is not rebuilt";
        EXPECT_EQ(after.label, before.label);
        EXPECT_FLOAT_EQ(iconAlpha(after), alpha);
        EXPECT_EQ(after.label->getColor(), labelColour);
    }
    place->setImageTranspareny(7.0f);
    EXPECT_FLOAT_EQ(iconAlpha(partsOf(*place)), 1.0f);

    // Markers blend over the terrain whatever its depth, unlit.
    const osg::StateSet* state = place->getStateSet();
    ASSERT_NE(state, nullptr);
    const auto* depth = dynamic_cast<const osg::Depth*>(state->getAttribute(osg::StateAttribute::DEPTH));
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->getFunction(), osg::Depth::ALWAYS);
    EXPECT_TRUE(state->getMode(GL_BLEND) & osg::StateAttribute::ON);
    EXPECT_FALSE(state->getMode(GL_LIGHTING) & osg::StateAttribute::ON);
    EXPECT_GT(state->getBinNumber(), 10);
}

TEST_F(PlaceNodeTest, ConfigCarriesTextStyleAndPosition)
{
    osg::ref_ptr<PlaceNode> place = new PlaceNode(_globe.get(), GeoPoint(_srs, 12.5, 41.9, 0.0), nullptr, "Rome",
                                                  styleOf({{"text-size", "20"}}));
    const Config conf = place->getConfig();
    EXPECT_EQ(conf.key(), "place");
    EXPECT_EQ(conf.value("text"), "Rome");
    EXPECT_TRUE(conf.hasChild("style"));
    EXPECT_EQ(conf.child("position").value<double>("x", 0.0), 12.5);
}

// Drawn in a window: a render test, which the sanitizer passes leave out (the GL driver keeps a
// little memory for the life of the process).
class PlaceNodeRender : public PlaceNodeTest
{};

TEST_F(PlaceNodeRender, RendersTheIconAtThePointAndFadesIt)
{
    std::string why;
    if (!veltra::test::ensureDisplay(&why))
        GTEST_SKIP() << why;

    osg::ref_ptr<PlaceNode> place =
        new PlaceNode(_globe.get(), GeoPoint(_srs, 0.0, 0.0, 0.0), solidImage(16, 16, {255, 0, 0, 255}).get(), "");
    const auto lookDown = [&](osg::Camera& camera) {
        osg::Vec3d ground, eye;
        _srs->transformToWorld(osg::Vec3d(0.0, 0.0, 0.0), ground);
        _srs->transformToWorld(osg::Vec3d(0.0, 0.0, 1e7), eye);
        camera.setViewMatrixAsLookAt(eye, ground, osg::Vec3d(0, 0, 1));
        camera.setProjectionMatrixAsPerspective(30.0, 1.0, 1e6, 1e8);
        camera.setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    };
    const auto render = [&]() {
        std::string reason;
        osg::ref_ptr<osg::Image> image = veltra::test::renderOffscreen(place.get(), 64, 64, lookDown, &reason);
        EXPECT_TRUE(image.valid()) << reason;
        return image;
    };

    osg::ref_ptr<osg::Image> opaque = render();
    ASSERT_TRUE(opaque.valid());
    // Anchored centre-bottom at the middle of the view, the 16-pixel icon covers columns 24-39, rows 32-47.
    const osg::Vec4ub background = veltra::test::pixelAt(*opaque, 4, 4);
    const osg::Vec4ub inside = veltra::test::pixelAt(*opaque, 32, 40);
    EXPECT_TRUE(veltra::test::colourNear(inside, {255, 0, 0, 255}, 10)) << veltra::test::describe(inside);
    const std::pair<int, int> around[] = {{32, 28}, {20, 40}, {44, 40}, {32, 52}};
    for (const auto& [x, y] : around)
    {
        const osg::Vec4ub outside = veltra::test::pixelAt(*opaque, x, y);
        EXPECT_TRUE(veltra::test::colourNear(outside, background, 10))
            << "at " << x << ", " << y << ": " << veltra::test::describe(outside);
    }

    place->setImageTranspareny(0.3f);
    osg::ref_ptr<osg::Image> faded = render();
    ASSERT_TRUE(faded.valid());
    const osg::Vec4ub blended = veltra::test::pixelAt(*faded, 32, 40);
    const osg::Vec4ub expected(static_cast<unsigned char>(0.3 * 255 + 0.7 * background.r()),
                               static_cast<unsigned char>(0.7 * background.g()),
                               static_cast<unsigned char>(0.7 * background.b()), 255);
    EXPECT_TRUE(veltra::test::colourNear(blended, expected, 12))
        << veltra::test::describe(blended) << " expected about " << veltra::test::describe(expected);

    // The label draws to the right of the icon, never to its left.
    place->setStyle(styleOf({{"text-fill", "#00ff00"}}));
    place->setText("WW");
    osg::ref_ptr<osg::Image> labelled = render();
    ASSERT_TRUE(labelled.valid());
    const auto greenIn = [&](int x0, int x1) {
        int count = 0;
        for (int y = 30; y < 64; ++y)
            for (int x = x0; x < x1; ++x)
            {
                const osg::Vec4ub p = veltra::test::pixelAt(*labelled, x, y);
                count += (p.g() > 128 && p.r() < 100) ? 1 : 0;
            }
        return count;
    };
    EXPECT_GT(greenIn(41, 64), 10);
    EXPECT_EQ(greenIn(0, 24), 0);
}
