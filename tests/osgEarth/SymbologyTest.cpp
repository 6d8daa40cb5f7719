#include <osgEarth/Config>
#include <osgEarthSymbology/AltitudeSymbol>
#include <osgEarthSymbology/Color>
#include <osgEarthSymbology/Expression>
#include <osgEarthSymbology/ExtrusionSymbol>
#include <osgEarthSymbology/IconSymbol>
#include <osgEarthSymbology/LineSymbol>
#include <osgEarthSymbology/PointSymbol>
#include <osgEarthSymbology/PolygonSymbol>
#include <osgEarthSymbology/Style>
#include <osgEarthSymbology/StyleSheet>
#include <osgEarthSymbology/TextSymbol>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <vector>

using namespace osgEarth;
using namespace osgEarth::Symbology;

namespace {

constexpr float Tol = 1.0f / 512.0f;

void expectColor(const Color& actual, float r, float g, float b, float a)
{
    EXPECT_NEAR(actual.r(), r, Tol);
    EXPECT_NEAR(actual.g(), g, Tol);
    EXPECT_NEAR(actual.b(), b, Tol);
    EXPECT_NEAR(actual.a(), a, Tol);
}

// The one style a CSS text defines, as a sheet would store it.
Style styleFromCss(const std::string& css)
{
    StyleSheet::StyleMap styles;
    StyleSheet::parseCSS(css, styles);
    EXPECT_EQ(styles.size(), 1u) << css;
    return styles.empty() ? Style() : styles.begin()->second;
}

std::vector<std::string> namesOf(const StyleSheet::StyleMap& styles)
{
    std::vector<std::string> names;
    for (const auto& entry : styles)
    {
        names.push_back(entry.first);
    }
    return names;
}

Config sheetConfig(const std::string& xml)
{
    Config doc;
    std::istringstream in(xml);
    EXPECT_TRUE(doc.fromXML(in)) << xml;
    return doc.child("styles");
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Values

TEST(SymbologyColor, ParsesHexFormsAndLeavesAnythingElseBlack)
{
    struct Case
    {
        const char* text;
        float r, g, b, a;
    };
    const Case cases[] = {
        {"#ff0000", 1, 0, 0, 1},
        {"#00ff0080", 0, 1, 0, 128 / 255.0f},
        {"0x0000ff", 0, 0, 1, 1},
        {"0X336699CC", 0.2f, 0.4f, 0.6f, 0.8f},
        {"ffffff", 1, 1, 1, 1},
        {"  #FfFf00  ", 1, 1, 0, 1},
        {"#f00", 0, 0, 0, 1},
        {"red", 0, 0, 0, 1},
        {"rgb(255,0,0)", 0, 0, 0, 1},
        {"#gg0000", 0, 0, 0, 1},
        {"#ff00000", 0, 0, 0, 1},
        {"", 0, 0, 0, 1},
        {"#", 0, 0, 0, 1},
        {"0x", 0, 0, 0, 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        expectColor(Color(c.text), c.r, c.g, c.b, c.a);
    }
    EXPECT_EQ(Color("#12345678").toHTML(), "#12345678");
    EXPECT_EQ(Color(2.0f, -1.0f, 0.5f, 1.0f).toHTML(), "#ff0080ff");
}

TEST(SymbologyExpression, NumericEvaluatesArithmeticWithAttributes)
{
    const AttributeMap attrs = {{"h", "2"}, {"floors", " 3 "}, {"name", "abc"}};
    struct Case
    {
        const char* expr;
        double expected;
    };
    const Case cases[] = {
        {"12", 12},          {" 2.5 ", 2.5},       {"[h] * 3 + 1", 7}, {"1 + [h] * 3", 7}, {"(1+2)*(3+4)", 21},
        {"-[h]", -2},        {"10 / 4", 2.5},      {"8 - 2 - 1", 5},   {"16 / 4 / 2", 2},  {"2e3", 2000},
        {"[floors]*[h]", 6}, {"[missing] + 5", 5}, {"[name] + 1", 1},  {"--3", 3},         {"[ h ]", 2},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.expr);
        NumericExpression expr(c.expr);
        EXPECT_TRUE(expr.isValid());
        EXPECT_DOUBLE_EQ(expr.eval(attrs), c.expected);
    }
    EXPECT_TRUE(NumericExpression("4").isConstant());
    EXPECT_EQ(NumericExpression("[a] + [b]*2").attributeNames(), (std::vector<std::string>{"a", "b"}));
    EXPECT_DOUBLE_EQ(NumericExpression(16.0).eval(), 16.0);
}

TEST(SymbologyExpression, NumericRejectsGarbageWithoutBlowingUp)
{
    const std::string garbage[] = {"",   "abc", "1 +", "(1",   "1)", "[",     "[]", "[h",
                                   "2e", "1 2", "*3",  "1..2", "#",  "1e999", "()", "1 + + "};
    for (const std::string& text : garbage)
    {
        SCOPED_TRACE(text);
        NumericExpression expr(text);
        EXPECT_FALSE(expr.isValid());
        double result = 42.0;
        EXPECT_FALSE(expr.eval(AttributeMap(), result));
        EXPECT_EQ(result, 42.0);
        EXPECT_EQ(expr.eval(), 0.0);
    }

    // Well-formed but not finite: evaluation fails rather than handing out infinity.
    double result = 0.0;
    EXPECT_TRUE(NumericExpression("1/0").isValid());
    EXPECT_FALSE(NumericExpression("1/0").eval(AttributeMap(), result));
    EXPECT_FALSE(NumericExpression("[h]/[z]").eval({{"h", "1"}, {"z", "0"}}, result));

    // Nesting is capped: moderate depth works, hostile depth is rejected instead of exhausting the stack.
    EXPECT_DOUBLE_EQ(NumericExpression(std::string(30, '(') + "7" + std::string(30, ')')).eval(), 7.0);
    EXPECT_FALSE(NumericExpression(std::string(200000, '(') + "1" + std::string(200000, ')')).isValid());
    EXPECT_FALSE(NumericExpression(std::string(200000, '-') + "1").isValid());
    EXPECT_FALSE(NumericExpression(std::string(200000, '(')).isValid());
}

TEST(SymbologyExpression, StringJoinsLiteralsAndAttributes)
{
    const AttributeMap attrs = {{"name", "Main"}, {"id", "7"}};
    struct Case
    {
        const char* expr;
        const char* expected;
        bool literal;
    };
    const Case cases[] = {
        {"\"a.png\"", "a.png", true},
        {"'Road ' + [name]", "Road Main", false},
        {"[name]", "Main", false},
        {"name", "Main", false},
        {"\"x\" name [id]", "xMain7", false},
        {"\"a;b + c\"", "a;b + c", true},
        {"\"unterminated", "unterminated", true},
        {"[id", "7", false},
        {"[missing] + \"!\"", "!", false},
        {"[] + + ", "", true},
        {"", "", true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.expr);
        StringExpression expr(c.expr);
        EXPECT_EQ(expr.eval(attrs), c.expected);
        EXPECT_EQ(expr.isLiteral(), c.literal);
        EXPECT_EQ(expr.expr(), c.expr);
    }

    for (const std::string text : {"plain", "say \"hi\"", "it's \"both\""})
    {
        SCOPED_TRACE(text);
        StringExpression expr;
        expr.setLiteral(text);
        EXPECT_EQ(expr.eval(attrs), text);
        EXPECT_TRUE(expr.isLiteral());
    }
    StringExpression quoted;
    quoted.setLiteral("say \"hi\"");
    EXPECT_EQ(StringExpression(quoted.expr()).eval(), "say \"hi\"");
}

// ---------------------------------------------------------------------------------------------------------------
// Symbol properties

TEST(SymbologySymbols, DefaultsFollowTheStyleSheetConventions)
{
    Style style;
    const PolygonSymbol* polygon = style.getOrCreate<PolygonSymbol>();
    const LineSymbol* line = style.getOrCreate<LineSymbol>();
    const PointSymbol* point = style.getOrCreate<PointSymbol>();
    const TextSymbol* text = style.getOrCreate<TextSymbol>();

    expectColor(polygon->fill()->color(), 1, 1, 1, 1);
    expectColor(line->stroke()->color(), 1, 1, 1, 1);
    EXPECT_FLOAT_EQ(line->stroke()->width().get(), 1.0f);
    EXPECT_EQ(line->stroke()->widthUnits().get(), Stroke::UNITS_PIXELS);
    EXPECT_FLOAT_EQ(point->size().get(), 1.0f);

    expectColor(text->fill()->color(), 1, 1, 1, 1);
    expectColor(text->halo()->color(), 0.3f, 0.3f, 0.3f, 1);
    EXPECT_FLOAT_EQ(text->haloOffset().get(), 0.07f);
    EXPECT_DOUBLE_EQ(text->size()->eval(), 16.0);
    EXPECT_EQ(text->alignment().get(), TextSymbol::ALIGN_BASE_LINE);
    EXPECT_EQ(text->encoding().get(), TextSymbol::ENCODING_ASCII);
    EXPECT_TRUE(text->declutter().get());
    EXPECT_EQ(text->provider().get(), "annotation");
    // Defaults are not settings: nothing but the kind reaches the Config.
    EXPECT_TRUE(text->getConfig().children().empty());
}

TEST(SymbologySymbols, CssPropertiesReachTheirSymbols)
{
    struct Case
    {
        const char* css;
        std::function<void(const Style&)> check;
    };
    const Case cases[] = {
        {"fill: #ff0000; fill-opacity: 0.25",
         [](const Style& s) { expectColor(s.get<PolygonSymbol>()->fill()->color(), 1, 0, 0, 0.25f); }},
        {"stroke: #00ff00; stroke-opacity: 2; stroke-width: 5m; stroke-linecap: round; stroke-linejoin: mitre",
         [](const Style& s) {
             const Stroke& st = s.get<LineSymbol>()->stroke().get();
             expectColor(st.color(), 0, 1, 0, 1);
             EXPECT_FLOAT_EQ(st.width().get(), 5.0f);
             EXPECT_EQ(st.widthUnits().get(), Stroke::UNITS_METERS);
             EXPECT_EQ(st.lineCap().get(), Stroke::LINECAP_ROUND);
             EXPECT_EQ(st.lineJoin().get(), Stroke::LINEJOIN_MITRE);
         }},
        {"stroke-width: 2px; stroke-stipple: 0x0F0F; stroke-stipple-factor: 3",
         [](const Style& s) {
             const Stroke& st = s.get<LineSymbol>()->stroke().get();
             EXPECT_FLOAT_EQ(st.width().get(), 2.0f);
             EXPECT_EQ(st.widthUnits().get(), Stroke::UNITS_PIXELS);
             EXPECT_EQ(st.stipplePattern().get(), 0x0F0F);
             EXPECT_EQ(st.stippleFactor().get(), 3u);
         }},
        {"point-fill: #0000ff; point-fill-opacity: 0.5; point-size: 6",
         [](const Style& s) {
             expectColor(s.get<PointSymbol>()->fill()->color(), 0, 0, 1, 0.5f);
             EXPECT_FLOAT_EQ(s.get<PointSymbol>()->size().get(), 6.0f);
         }},
        {"extrusion-height: [floors] * 3; extrusion-flatten: false; extrusion-wall-style: walls",
         [](const Style& s) {
             const ExtrusionSymbol* e = s.get<ExtrusionSymbol>();
             EXPECT_DOUBLE_EQ(e->heightExpression()->eval({{"floors", "4"}}), 12.0);
             EXPECT_FALSE(e->flatten().get());
             EXPECT_EQ(e->wallStyleName().get(), "walls");
             EXPECT_FALSE(e->roofStyleName().isSet());
         }},
        {"altitude-clamping: terrain-drape; altitude-binding: centroid; altitude-offset: 5",
         [](const Style& s) {
             const AltitudeSymbol* a = s.get<AltitudeSymbol>();
             EXPECT_EQ(a->clamping().get(), AltitudeSymbol::CLAMP_TO_TERRAIN);
             EXPECT_EQ(a->technique().get(), AltitudeSymbol::TECHNIQUE_DRAPE);
             EXPECT_EQ(a->binding().get(), AltitudeSymbol::BINDING_CENTROID);
             EXPECT_DOUBLE_EQ(a->verticalOffset()->eval(), 5.0);
         }},
        {"altitude-clamping: Relative; altitude-technique: gpu",
         [](const Style& s) {
             EXPECT_EQ(s.get<AltitudeSymbol>()->clamping().get(), AltitudeSymbol::CLAMP_RELATIVE_TO_TERRAIN);
             EXPECT_EQ(s.get<AltitudeSymbol>()->technique().get(), AltitudeSymbol::TECHNIQUE_GPU);
         }},
        {"icon: \"pin.png\"; icon-align: left-top; icon-scale: 2; icon-declutter: true; icon-placement: vertex",
         [](const Style& s) {
             const IconSymbol* i = s.get<IconSymbol>();
             EXPECT_EQ(i->url()->eval(), "pin.png");
             EXPECT_EQ(i->alignment().get(), IconSymbol::ALIGN_LEFT_TOP);
             EXPECT_DOUBLE_EQ(i->scale()->eval(), 2.0);
             EXPECT_TRUE(i->declutter().get());
             EXPECT_EQ(i->placement().get(), IconSymbol::PLACEMENT_VERTEX);
         }},
        {"text: [name]; text-color: #ff0000; text-halo-color: #0000ff; text-halo-offset: 0.1; text-size: 20",
         [](const Style& s) {
             const TextSymbol* t = s.get<TextSymbol>();
             EXPECT_EQ(t->content()->eval({{"name", "Hill"}}), "Hill");
             expectColor(t->fill()->color(), 1, 0, 0, 1);
             expectColor(t->halo()->color(), 0, 0, 1, 1);
             EXPECT_FLOAT_EQ(t->haloOffset().get(), 0.1f);
             EXPECT_DOUBLE_EQ(t->size()->eval(), 20.0);
         }},
        {"text-content: 'a;b'; text-fill: #00ff00; text-fill-opacity: 0.5; text-align: center-bottom-base-line; "
         "text-layout: rtl; text-encoding: UTF-8; text-declutter: no; text-priority: [rank]; text-font: arial.ttf",
         [](const Style& s) {
             const TextSymbol* t = s.get<TextSymbol>();
             EXPECT_EQ(t->content()->eval(), "a;b");
             expectColor(t->fill()->color(), 0, 1, 0, 0.5f);
             EXPECT_EQ(t->alignment().get(), TextSymbol::ALIGN_CENTER_BOTTOM_BASE_LINE);
             EXPECT_EQ(t->layout().get(), TextSymbol::LAYOUT_RIGHT_TO_LEFT);
             EXPECT_EQ(t->encoding().get(), TextSymbol::ENCODING_UTF8);
             EXPECT_FALSE(t->declutter().get());
             EXPECT_DOUBLE_EQ(t->priority()->eval({{"rank", "3"}}), 3.0);
             EXPECT_EQ(t->font().get(), "arial.ttf");
         }},
        // Names match whatever the letter case, and `_` stands for `-`.
        {"FILL: #ff0000; Fill_Opacity: 0.5; STROKE_WIDTH: 4M",
         [](const Style& s) {
             expectColor(s.get<PolygonSymbol>()->fill()->color(), 1, 0, 0, 0.5f);
             EXPECT_FLOAT_EQ(s.get<LineSymbol>()->stroke()->width().get(), 4.0f);
             EXPECT_EQ(s.get<LineSymbol>()->stroke()->widthUnits().get(), Stroke::UNITS_METERS);
         }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.css);
        const Style style = styleFromCss(c.css);
        c.check(style);
    }
}

TEST(SymbologySymbols, BadValuesKeepDefaultsAndUnknownNamesAreIgnored)
{
    const Style bad = styleFromCss("fill-opacity: lots; stroke-width: wide; stroke-width: 5km; stroke-width: -2;"
                                   "stroke-linecap: pointy; point-size: abc; text-size: ((; text-align: middle;"
                                   "extrusion-height: tall; altitude-clamping: sideways; icon-scale: [; "
                                   "stroke-stipple: 0x10000; point-size: 1e99; text-halo-offset: nan");
    expectColor(bad.get<PolygonSymbol>()->fill()->color(), 1, 1, 1, 1);
    const Stroke& stroke = bad.get<LineSymbol>()->stroke().get();
    EXPECT_FLOAT_EQ(stroke.width().get(), 1.0f);
    EXPECT_EQ(stroke.widthUnits().get(), Stroke::UNITS_PIXELS);
    EXPECT_EQ(stroke.lineCap().get(), Stroke::LINECAP_FLAT);
    EXPECT_EQ(stroke.stipplePattern().get(), 0xFFFF);
    EXPECT_FLOAT_EQ(bad.get<PointSymbol>()->size().get(), 1.0f);
    EXPECT_DOUBLE_EQ(bad.get<TextSymbol>()->size()->eval(), 16.0);
    EXPECT_EQ(bad.get<TextSymbol>()->alignment().get(), TextSymbol::ALIGN_BASE_LINE);
    EXPECT_FLOAT_EQ(bad.get<TextSymbol>()->haloOffset().get(), 0.07f);
    EXPECT_DOUBLE_EQ(bad.get<ExtrusionSymbol>()->heightExpression()->eval(), 10.0);
    EXPECT_EQ(bad.get<AltitudeSymbol>()->clamping().get(), AltitudeSymbol::CLAMP_NONE);
    EXPECT_DOUBLE_EQ(bad.get<IconSymbol>()->scale()->eval(), 1.0);

    const Style unknown = styleFromCss("colour: red; fill-pattern: dots; -: x; : y; stroke-widthx: 3; text-");
    EXPECT_TRUE(unknown.empty());
}

// ---------------------------------------------------------------------------------------------------------------
// Styles

TEST(SymbologyStyle, FromSldTakesTheKeyAsNameAndEachChildAsAProperty)
{
    Config flat;
    ASSERT_TRUE(flat.fromJSON(R"({"fill":"#ff0000","stroke":"#ffff00"})"));
    Style style("previous");
    style.fromSLD(flat);
    EXPECT_EQ(style.getName(), "");
    EXPECT_EQ(style.symbols().size(), 2u);
    expectColor(style.get<PolygonSymbol>()->fill()->color(), 1, 0, 0, 1);
    expectColor(style.get<LineSymbol>()->stroke()->color(), 1, 1, 0, 1);

    // JSON members arrive alphabetically, so the opacity lands after the colour it modifies.
    Config named;
    ASSERT_TRUE(named.fromJSON(R"({"roads":{"fill-opacity":"0.5","fill":"#00ff00","stroke_width":"3m"}})"));
    Style roads;
    roads.fromSLD(named);
    EXPECT_EQ(roads.getName(), "roads");
    expectColor(roads.get<PolygonSymbol>()->fill()->color(), 0, 1, 0, 0.5f);
    EXPECT_EQ(roads.get<LineSymbol>()->stroke()->widthUnits().get(), Stroke::UNITS_METERS);
}

TEST(SymbologyStyle, SymbolsAreUniquePerKindAndCopiesAreDeep)
{
    Style style("s");
    osg::ref_ptr<PolygonSymbol> first = new PolygonSymbol();
    osg::ref_ptr<PolygonSymbol> second = new PolygonSymbol();
    style.add(first.get());
    style.addSymbol(second.get());
    style.add(nullptr);
    EXPECT_EQ(style.symbols().size(), 1u);
    EXPECT_EQ(style.get<PolygonSymbol>(), second.get());
    EXPECT_FALSE(style.has<TextSymbol>());
    TextSymbol* text = style.getOrCreate<TextSymbol>();
    EXPECT_EQ(text, style.get<TextSymbol>());
    EXPECT_EQ(style.getOrCreate<TextSymbol>(), text);
    EXPECT_TRUE(style.has<TextSymbol>());

    Style deep(style);
    deep.get<PolygonSymbol>()->fill()->color() = Color("#000000");
    expectColor(style.get<PolygonSymbol>()->fill()->color(), 1, 1, 1, 1);

    Style assigned;
    assigned = style;
    EXPECT_NE(assigned.get<TextSymbol>(), style.get<TextSymbol>());

    Style shallow(style, osg::CopyOp::SHALLOW_COPY);
    EXPECT_EQ(shallow.get<PolygonSymbol>(), style.get<PolygonSymbol>());
}

TEST(SymbologyStyle, CombineWithOverridesOnlyWhatTheOtherStyleSets)
{
    const Style base = styleFromCss("fill: #ff0000; stroke: #00ff00; stroke-width: 4");
    const Style over = styleFromCss("stroke-width: 9; text-size: 30");
    const Style combined = base.combineWith(over);

    EXPECT_EQ(combined.getName(), "default");
    expectColor(combined.get<PolygonSymbol>()->fill()->color(), 1, 0, 0, 1);
    const Stroke& stroke = combined.get<LineSymbol>()->stroke().get();
    EXPECT_FLOAT_EQ(stroke.width().get(), 9.0f);
    EXPECT_DOUBLE_EQ(combined.get<TextSymbol>()->size()->eval(), 30.0);
    // Combining does not touch its inputs.
    EXPECT_FLOAT_EQ(base.get<LineSymbol>()->stroke()->width().get(), 4.0f);
    EXPECT_FALSE(base.has<TextSymbol>());
}

TEST(SymbologyStyle, ConfigRoundTripKeepsNameAndSetProperties)
{
    const Style original = styleFromCss("buildings { fill: #11223344; extrusion-height: [h] + 2; "
                                        "altitude-clamping: terrain-gpu; icon: 'a b.png'; text: [name]; "
                                        "stroke-width: 2m; point-size: 3 }");
    const Style copy{original.getConfig()};
    EXPECT_EQ(copy.getName(), "buildings");
    EXPECT_EQ(copy.symbols().size(), original.symbols().size());
    EXPECT_EQ(copy.getConfig().toJSON(), original.getConfig().toJSON());
    expectColor(copy.get<PolygonSymbol>()->fill()->color(), 0x11 / 255.0f, 0x22 / 255.0f, 0x33 / 255.0f, 0x44 / 255.0f);
    EXPECT_DOUBLE_EQ(copy.get<ExtrusionSymbol>()->heightExpression()->eval({{"h", "3"}}), 5.0);
    EXPECT_EQ(copy.get<AltitudeSymbol>()->technique().get(), AltitudeSymbol::TECHNIQUE_GPU);
    EXPECT_EQ(copy.get<IconSymbol>()->url()->eval(), "a b.png");
    EXPECT_EQ(copy.get<LineSymbol>()->stroke()->widthUnits().get(), Stroke::UNITS_METERS);

    Style merged("keep");
    Config update("style");
    Config point("point");
    point.add("point-size", "8");
    update.add(point);
    update.add(Config("no-such-kind", "x"));
    merged.mergeConfig(update);
    EXPECT_EQ(merged.getName(), "keep");
    EXPECT_FLOAT_EQ(merged.get<PointSymbol>()->size().get(), 8.0f);
}

// ---------------------------------------------------------------------------------------------------------------
// CSS and style sheets

TEST(SymbologyCss, BlocksBecomeNamedStyles)
{
    struct Case
    {
        const char* css;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"fill: #ff0000; stroke: #00ff00", {"default"}},
        {"{ fill: #ff0000 }", {"default"}},
        {"roads { stroke: #ff0000 } buildings { fill: #00ff00; extrusion-height: 10 }", {"buildings", "roads"}},
        {"a, b { fill: #ff0000 }", {"a", "b"}},
        {"a, { fill: #ff0000 }", {"a"}},
        {"/* roads { } */ lakes { fill: #0000ff }", {"lakes"}},
        {"rivers { stroke: #0000ff", {"rivers"}},
        {"#id { fill: #0000ff }", {"#id"}},
        {"", {}},
        {"  \n ", {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.css);
        StyleSheet::StyleMap styles;
        StyleSheet::parseCSS(c.css, styles);
        EXPECT_EQ(namesOf(styles), c.names);
        for (const auto& entry : styles)
        {
            EXPECT_EQ(entry.second.getName(), entry.first);
        }
    }
}

TEST(SymbologyCss, HostileTextTerminatesWithoutCrashing)
{
    std::string noise;
    unsigned seed = 12345u;
    const char alphabet[] = "{}:;'\"/*[]()+-#abc 019\n_";
    for (int i = 0; i < 20000; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        noise += alphabet[(seed >> 16) % (sizeof(alphabet) - 1)];
    }
    const std::string inputs[] = {"{{{{",
                                  "}}}}",
                                  ":::;;;",
                                  "a{b{c:d}}",
                                  "a { fill: 'unterminated; }",
                                  "/*",
                                  "a { text: \"x }",
                                  std::string(100000, '{'),
                                  noise};
    for (const std::string& css : inputs)
    {
        StyleSheet::StyleMap styles;
        StyleSheet::parseCSS(css, styles);
        SUCCEED();
    }
}

TEST(SymbologyStyleSheet, LookupFollowsTheNameAndDefaultRules)
{
    struct Case
    {
        std::vector<std::string> styles;
        const char* request;
        bool fallBack;
        const char* expected; // null: no style
    };
    const Case cases[] = {
        {{"a", "default"}, "a", true, "a"},
        {{"a", "default"}, "#a", true, "a"},
        {{"a", "default"}, "b", true, "default"},
        {{"a", "default"}, "b", false, nullptr},
        {{"#a", "a"}, "#a", true, "#a"},
        {{"a", "z"}, "a#", false, nullptr},
        {{"", "z"}, "x", true, ""},
        {{"m", "b"}, "x", true, "b"},
        {{"m", "b"}, "#x", false, nullptr},
        {{}, "x", true, nullptr},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.request);
        osg::ref_ptr<StyleSheet> sheet = new StyleSheet();
        for (const std::string& name : c.styles)
        {
            sheet->addStyle(Style(name));
        }
        const StyleSheet& constSheet = *sheet;
        const Style* found = constSheet.getStyle(c.request, c.fallBack);
        if (c.expected)
        {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->getName(), c.expected);
        }
        else
        {
            EXPECT_EQ(found, nullptr);
        }
    }

    // Only the non-const lookup fills an empty sheet with an empty default.
    osg::ref_ptr<StyleSheet> sheet = new StyleSheet();
    EXPECT_EQ(static_cast<const StyleSheet&>(*sheet).getDefaultStyle(), nullptr);
    Style* created = sheet->getStyle("anything");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->getName(), "default");
    EXPECT_TRUE(created->empty());
    EXPECT_EQ(sheet->styles().size(), 1u);

    Style replacement = styleFromCss("fill: #ff0000");
    sheet->addStyle(replacement);
    EXPECT_EQ(sheet->styles().size(), 1u);
    EXPECT_TRUE(sheet->getStyle("default")->has<PolygonSymbol>());
    sheet->removeStyle("default");
    EXPECT_TRUE(sheet->styles().empty());
}

TEST(SymbologyStyleSheet, ReadsCssAndSymbolStylesFromConfigAndWritesThemBack)
{
    const Config conf = sheetConfig(R"(<styles>
        <style type="Text/CSS">
            roads { stroke: #ff0000; stroke-width: 2 }
            { fill: #00ff00 }
        </style>
        <style><name>points</name><point><point-size>5</point-size></point></style>
        <style url="remote.css"/>
        <selector name="s" class="roads"/>
        <unknown/>
    </styles>)");
    osg::ref_ptr<StyleSheet> sheet = new StyleSheet(conf);
    EXPECT_EQ(namesOf(sheet->styles()), (std::vector<std::string>{"default", "points", "roads"}));
    expectColor(sheet->getStyle("#roads")->get<LineSymbol>()->stroke()->color(), 1, 0, 0, 1);
    EXPECT_FLOAT_EQ(sheet->getStyle("points")->get<PointSymbol>()->size().get(), 5.0f);
    EXPECT_EQ(sheet->selectors().size(), 1u);

    osg::ref_ptr<StyleSheet> again = new StyleSheet(sheet->getConfig());
    EXPECT_EQ(namesOf(again->styles()), namesOf(sheet->styles()));
    EXPECT_EQ(again->getConfig().toJSON(), sheet->getConfig().toJSON());
    expectColor(again->getStyle("default")->get<PolygonSymbol>()->fill()->color(), 0, 1, 0, 1);
}
