#include <osgEarth/Config>
#include <osgEarth/StringUtils>
#include <osgEarth/optional>

#include "NotifyCapture.h"

#include <osg/Object>

#include <gtest/gtest.h>

#include <sstream>

using namespace osgEarth;

namespace {

// Order-preserving text of a whole tree, so that tests can compare structure and child order in one assertion.
std::string describe(const Config& conf)
{
    std::string text = conf.key();
    if (!conf.value().empty())
    {
        text += "=" + conf.value();
    }
    if (!conf.children().empty())
    {
        text += "{";
        bool first = true;
        for (const Config& c : conf.children())
        {
            text += (first ? "" : ",") + describe(c);
            first = false;
        }
        text += "}";
    }
    return text;
}

Config fromXml(const std::string& xml)
{
    Config conf;
    std::istringstream in(xml);
    EXPECT_TRUE(conf.fromXML(in)) << xml;
    return conf;
}

Config fromJson(const std::string& json)
{
    Config conf;
    EXPECT_TRUE(conf.fromJSON(json)) << json;
    return conf;
}

class Marker : public osg::Referenced
{};

// An options class in the usual shape: reads its key in the constructor, writes it back in getConfig().
class TintOptions : public DriverConfigOptions
{
public:
    TintOptions(const ConfigOptions& options = ConfigOptions()) : DriverConfigOptions(options)
    {
        _conf.getIfSet("alpha", _alpha);
    }
    optional<float>& alpha() { return _alpha; }
    Config getConfig() const override
    {
        Config conf = DriverConfigOptions::getConfig();
        conf.setIfSet("alpha", _alpha);
        return conf;
    }

private:
    optional<float> _alpha{1.0f};
};

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Tree operations

TEST(ConfigTree, SetReplacesEveryDuplicateAndMovesTheChildToTheEnd)
{
    Config conf("layer");
    conf.add("name", "roads");
    conf.add("url", "a");
    conf.add("url", "b");
    conf.add("opacity", 0.5);

    conf.set("url", "c");
    EXPECT_EQ(describe(conf), "layer{name=roads,opacity=0.5,url=c}");

    // The replacement may be one of the children being removed.
    conf.set("name", *conf.child_ptr("name"));
    EXPECT_EQ(describe(conf), "layer{opacity=0.5,url=c,name=roads}");

    conf.update("opacity", 1);
    conf.set("profile", Config("ignored-key", "global-geodetic"));
    EXPECT_EQ(describe(conf), "layer{url=c,name=roads,opacity=1,profile=global-geodetic}");

    conf.remove("url");
    EXPECT_FALSE(conf.hasChild("url"));
}

TEST(ConfigTree, ValueTrimsAndFallsBackToOwnValueOnlyForItsOwnKey)
{
    Config conf("driver", " simple ");
    conf.add("hours", "  12\n");
    conf.add("blank", "   ");
    EXPECT_EQ(conf.value("hours"), "12");
    EXPECT_EQ(conf.value("driver"), "simple");
    EXPECT_EQ(conf.value("missing"), "");
    EXPECT_FALSE(conf.hasValue("blank"));
    EXPECT_TRUE(conf.hasChild("blank"));
    EXPECT_TRUE(conf.child("missing").empty());
    EXPECT_EQ(conf.child_ptr("missing"), nullptr);

    EXPECT_FALSE(Config("k", "").isSimple());
    EXPECT_TRUE(Config("k", "v").isSimple());
}

TEST(ConfigTree, TypedReadingFollowsTheFirstChild)
{
    Config conf;
    conf.add("range", "5000m");
    conf.add("range", "7");
    conf.add("lighting", "Off");
    conf.add("mask", "0x1F");
    conf.add("bad", "abc");
    conf.add("blank", " ");
    conf.add("name", "  two words  ");

    EXPECT_DOUBLE_EQ(conf.value<double>("range", 1.0), 5000.0);
    EXPECT_DOUBLE_EQ(conf.value<double>("missing", 42.0), 42.0);
    EXPECT_DOUBLE_EQ(conf.value<double>("blank", 42.0), 42.0);
    EXPECT_DOUBLE_EQ(conf.value<double>("bad", 42.0), 42.0);
    EXPECT_FALSE(conf.value<bool>("lighting", true));
    EXPECT_EQ(conf.value<unsigned>("mask", 0u), 31u);
    EXPECT_EQ(conf.value("name", "x"), "two words");
    EXPECT_EQ(conf.value("missing", "fallback"), "fallback");

    optional<double> range(1.0);
    EXPECT_TRUE(conf.getIfSet("range", range));
    EXPECT_TRUE(range.isSetTo(5000.0));

    // Blank or unreadable values leave the optional as it was.
    optional<int> blank(3);
    optional<int> bad(3);
    EXPECT_FALSE(conf.getIfSet("blank", blank));
    EXPECT_FALSE(conf.getIfSet("bad", bad));
    EXPECT_FALSE(blank.isSet());
    EXPECT_FALSE(bad.isSet());

    optional<std::string> name;
    EXPECT_TRUE(conf.getIfSet("name", name));
    EXPECT_EQ(name.get(), "two words");

    enum class Mode
    {
        Near,
        Far
    };
    optional<Mode> mode(Mode::Near);
    Config modes;
    modes.add("mode", "FAR");
    EXPECT_FALSE(modes.getIfSet("mode", "near", mode, Mode::Near));
    EXPECT_TRUE(modes.getIfSet("mode", "far", mode, Mode::Far));
    EXPECT_TRUE(mode.isSetTo(Mode::Far));
}

TEST(ConfigTree, FindSearchesThisThenChildrenThenDeeper)
{
    Config root = fromXml("<map><a><target>deep</target></a><target>shallow</target></map>");
    const Config* map = root.find("map");
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->find("map"), map);
    EXPECT_EQ(map->find("map", false), nullptr);
    ASSERT_NE(map->find("target"), nullptr);
    EXPECT_EQ(map->find("target")->value(), "shallow");

    root.find("a")->mutable_child("target")->value() = "changed";
    EXPECT_EQ(root.find("a")->value("target"), "changed");
}

TEST(ConfigTree, MergeReplacesSharedKeysAndOperatorMinusDropsThem)
{
    Config base("options");
    base.add("url", "a");
    base.add("url", "b");
    base.add("format", "json");
    base.add("lighting", "true");

    Config overlay;
    overlay.add("url", "c");
    overlay.add("cache", "none");
    osg::ref_ptr<Marker> marker = new Marker;
    overlay.addNonSerializable("source", marker.get());

    Config merged = base;
    merged.merge(overlay);
    EXPECT_EQ(describe(merged), "options{format=json,lighting=true,url=c,cache=none}");
    EXPECT_EQ(merged.getNonSerializable<Marker>("source"), marker.get());

    EXPECT_EQ(describe(base - overlay), "options{format=json,lighting=true}");

    // Merging a Config into itself changes nothing.
    Config self = base;
    self.merge(self);
    EXPECT_EQ(describe(self), describe(base));
}

TEST(ConfigTree, ReferrerAndAttachmentsTravelWithCopies)
{
    Config conf("map");
    conf.setReferrer("/data/world.earth");
    conf.add("name", "world");
    Config layer("model");
    layer.add("url", "roads.json");
    conf.add(layer);
    EXPECT_EQ(conf.child("name").referrer(), "/data/world.earth");
    EXPECT_EQ(conf.child("model").child("url").referrer(), "/data/world.earth");

    osg::ref_ptr<Marker> marker = new Marker;
    Config holder;
    holder.addNonSerializable("source", marker.get());
    Config outer;
    outer.add("features", holder);
    const Config copy = outer;
    EXPECT_EQ(copy.child("features").getNonSerializable<Marker>("source"), marker.get());
    EXPECT_EQ(copy.child("features").getNonSerializable<osg::Object>("source"), nullptr);
    EXPECT_EQ(copy.getNonSerializable<Marker>("source"), nullptr);
    EXPECT_EQ(copy.toJSON(), "{\"\":{\"features\":{}}}\n");
}

// ---------------------------------------------------------------------------------------------------------------
// Text conversions

TEST(ConfigText, WritesDoublesWithSixteenDigitsAndFloatsWithEight)
{
    EXPECT_EQ(toString(5000.0), "5000");
    EXPECT_EQ(toString(0.1), "0.1");
    EXPECT_EQ(toString(31.737572), "31.737572");
    EXPECT_EQ(toString(1e-20), "9.999999999999999e-21");
    EXPECT_EQ(toString(-45.0), "-45");
    EXPECT_EQ(toString(0.3f), "0.30000001");
    EXPECT_EQ(toString<double>(0.3f), "0.300000011920929");
    EXPECT_EQ(toString(true), "true");
    EXPECT_EQ(toString(-12), "-12");
    EXPECT_EQ(toString<unsigned char>(200), "200");
    EXPECT_EQ(toString(osg::Vec3d(1.5, -2, 1.0 / 3.0)), "1.5 -2 0.333333");
    EXPECT_EQ(Config("lat", 31.737572).value(), "31.737572");
    EXPECT_EQ(std::string(Stringify() << "lod " << 3), "lod 3");
}

TEST(ConfigText, ReadsWithStreamRules)
{
    EXPECT_EQ(as<int>("12abc", -1), 12);
    EXPECT_EQ(as<int>("  7", -1), 7);
    EXPECT_EQ(as<int>("0x10", -1), 16);
    EXPECT_EQ(as<int>("abc", -1), -1);
    EXPECT_EQ(as<int>("", -1), -1);
    EXPECT_EQ(as<int>("   ", -1), -1);
    EXPECT_EQ(as<double>("1e3", 0.0), 1000.0);
    EXPECT_EQ(as<double>("-33.8688", 0.0), -33.8688);
    for (const char* yes : {"true", "YES", "On", " true "})
    {
        EXPECT_TRUE(as<bool>(yes, false)) << yes;
    }
    for (const char* no : {"false", "No", "OFF"})
    {
        EXPECT_FALSE(as<bool>(no, true)) << no;
    }
    EXPECT_TRUE(as<bool>("1", true));
    EXPECT_FALSE(as<bool>("maybe", false));
    EXPECT_EQ(as<std::string>(" keep blanks ", "x"), " keep blanks ");
    EXPECT_EQ(as<osg::Vec3d>("1 2.5 -3", osg::Vec3d()), osg::Vec3d(1, 2.5, -3));
    EXPECT_EQ(as<osg::Vec3f>("1 2", osg::Vec3f(9, 9, 9)), osg::Vec3f(9, 9, 9));

    EXPECT_EQ(trim("\t a b \r\n"), "a b");
    EXPECT_EQ(toLower("MaP-Ä"), "map-Ä");
    EXPECT_TRUE(endsWith("viewpoint_$set", "_$SET", false));
    EXPECT_FALSE(startsWith("ab", "abc"));
}

TEST(ConfigOptional, TracksWhetherAValueWasAssigned)
{
    optional<int> level(5);
    EXPECT_FALSE(level.isSet());
    EXPECT_EQ(level.get(), 5);
    EXPECT_TRUE(level == 5); // compares the value only
    EXPECT_FALSE(level.isSetTo(5));

    level = 7;
    EXPECT_TRUE(level.isSetTo(7));
    level.unset();
    EXPECT_EQ(level.value(), 5);
    EXPECT_FALSE(level.isSet());

    level.init(9);
    EXPECT_EQ(level.defaultValue(), 9);
    EXPECT_FALSE(level.isSet());
    level.mutable_value() = 2;
    EXPECT_TRUE(level.isSetTo(2));

    optional<optional<bool>> nested;
    const auto& constNested = nested;
    EXPECT_FALSE(constNested->isSet());
    EXPECT_FALSE(nested.isSet());
    nested->mutable_value() = true;
    EXPECT_TRUE(nested.isSet());
    EXPECT_TRUE(nested.get().isSetTo(true));

    EXPECT_TRUE(optional<int>(1) == optional<int>(2)); // both unset
    EXPECT_FALSE(optional<int>(1) == level);
}

// ---------------------------------------------------------------------------------------------------------------
// JSON

TEST(ConfigJson, WritesTheViewpointFormCompactly)
{
    Config vp("viewpoint");
    vp.add("lat", -33.8688);
    vp.add("long", 151.2093);
    vp.add("height", 0.0);
    vp.add("heading", 0.0);
    vp.add("pitch", -45.0);
    vp.add("range", 5000.0);
    vp.add("srs", "wgs84");
    EXPECT_EQ(vp.toJSON(false), "{\"viewpoint\":{\"heading\":\"0\",\"height\":\"0\",\"lat\":\"-33.8688\",\"long\":"
                                "\"151.2093\",\"pitch\":\"-45\",\"range\":\"5000\",\"srs\":\"wgs84\"}}\n");
}

TEST(ConfigJson, WrapsAKeylessRootAndIndentsByThreeWhenPretty)
{
    Config conf;
    conf.add("long", 111.510241);
    conf.add("lat", 31.737572);
    conf.add("level", 5);
    EXPECT_EQ(conf.toJSON(true), "{\n"
                                 "   \"\" : {\n"
                                 "      \"lat\" : \"31.737572\",\n"
                                 "      \"level\" : \"5\",\n"
                                 "      \"long\" : \"111.510241\"\n"
                                 "   }\n"
                                 "}\n");
}

TEST(ConfigJson, WritesSimpleRootsBareAndRepeatedKeysAsSetArrays)
{
    EXPECT_EQ(Config("k", "v").toJSON(), "{\"k\":\"v\"}\n");
    EXPECT_EQ(Config().toJSON(), "{\"\":{}}\n");
    EXPECT_EQ(Config("empty").toJSON(), "{\"empty\":{}}\n");

    Config viewpoints("viewpoints");
    Config first("viewpoint");
    first.add("name", "a");
    Config second("viewpoint");
    second.add("name", "b");
    viewpoints.add(first);
    viewpoints.add(second);
    viewpoints.add("url", "x");
    viewpoints.add("url", "y");
    viewpoints.add("flag", "");
    EXPECT_EQ(viewpoints.toJSON(), "{\"viewpoints\":{\"flag\":{},\"url_$set\":[{\"url\":\"x\"},{\"url\":\"y\"}],"
                                   "\"viewpoint_$set\":[{\"name\":\"a\"},{\"name\":\"b\"}]}}\n");

    Config withValue("style", "fill: red");
    withValue.add("name", "s");
    EXPECT_EQ(withValue.toJSON(), "{\"style\":{\"$value\":\"fill: red\",\"name\":\"s\"}}\n");
}

TEST(ConfigJson, UnwrapsASingleObjectRootAndKeepsSeveralMembersKeyless)
{
    Config vp = fromJson("{\"viewpoint\":{\"range\":5000,\"lat\":-33.8688,\"srs\":\"wgs84\",\"time\":null,"
                         "\"visible\":true,\"tiny\":0.1,\"big\":18054283.0,\"huge\":12345678901234567890}}");
    EXPECT_EQ(describe(vp), "viewpoint{big=18054283,huge=12345678901234567890,lat=-33.8688,range=5000,srs=wgs84,"
                            "time,tiny=0.1,visible=true}");
    EXPECT_FALSE(vp.hasValue("time"));
    EXPECT_TRUE(vp.hasChild("time"));

    // Members come out alphabetically: fill is always read before fill-opacity.
    Config style = fromJson("{\"stroke-width\":\"2\",\"fill-opacity\":0.5,\"stroke\":\"#0f0\",\"fill\":\"#f00\"}");
    EXPECT_EQ(describe(style), "{fill=#f00,fill-opacity=0.5,stroke=#0f0,stroke-width=2}");

    // A simple root does not come back as it was written.
    Config simple = fromJson(Config("k", "v").toJSON());
    EXPECT_EQ(describe(simple), "{k=v}");
}

TEST(ConfigJson, ReadsArraysAndDollarMembers)
{
    Config sets = fromJson("{\"layers\":{\"model_$set\":[{\"name\":\"a\"},{\"name\":\"b\"}],"
                           "\"image__array__\":[{\"name\":\"c\"}],\"tags\":[\"x\",null,2],\"odd_$set\":\"s\"}}");
    EXPECT_EQ(describe(sets), "layers{image{name=c},model{name=a},model{name=b},odd_$set=s,tags{=x,=2}}");

    Config dollar = fromJson("{\"$key\":\"sky\",\"$value\":\"text\",\"$children\":[{\"hours\":\"12\"}],\"a\":{}}");
    EXPECT_EQ(describe(dollar), "sky=text{{hours=12},a}");

    EXPECT_EQ(describe(fromJson("\"just text\"")), "=just text");
    EXPECT_EQ(describe(fromJson("[{\"a\":\"1\"},{}]")), "{{a=1}}");

    // Repeated simple children do not round-trip exactly: each comes back holding a nested child.
    Config urls("source");
    urls.add("url", "a");
    urls.add("url", "b");
    EXPECT_EQ(describe(fromJson(urls.toJSON())), "source{url{url=a},url{url=b}}");

    // Complex children do.
    Config layers("layers");
    Config model("model");
    model.add("name", "a");
    model.add("driver", "feature_geom");
    layers.add(model);
    layers.add(model);
    EXPECT_EQ(fromJson(layers.toJSON(true)).toJSON(), layers.toJSON());
}

TEST(ConfigJson, AccumulatesAcrossCallsAndRejectsMalformedTextUnchanged)
{
    Config conf;
    ASSERT_TRUE(conf.fromJSON("{\"a\":\"1\",\"b\":\"2\"}"));
    ASSERT_TRUE(conf.fromJSON("{\"c\":\"3\",\"d\":\"4\"}"));
    EXPECT_EQ(describe(conf), "{a=1,b=2,c=3,d=4}");

    const std::string before = describe(conf);
    const std::string deep = std::string(10000, '[') + std::string(10000, ']');
    for (const std::string& bad : {std::string(), std::string("{\"a\":"), std::string("{\"a\":1} trailing"),
                                   std::string("{'a':1}"), std::string("{\"a\" 1}"), deep})
    {
        std::string error;
        EXPECT_FALSE(conf.fromJSON(bad, error)) << bad.substr(0, 20);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(describe(conf), before);
    }

    veltra::test::NotifyCapture capture(osg::WARN);
    EXPECT_FALSE(conf.fromJSON("{oops"));
    EXPECT_TRUE(capture.contains("Cannot read JSON"));
}

TEST(ConfigJson, KeepsNonAsciiTextIntact)
{
    Config conf("place");
    conf.add("name", "Zürich \"quoted\" \\ back");
    Config back = fromJson(conf.toJSON());
    EXPECT_EQ(back.value("name"), "Zürich \"quoted\" \\ back");

    // Bytes that are not UTF-8 must not break the writer.
    EXPECT_FALSE(Config("bad", "\xff\xfe").toJSON().empty());
}

// ---------------------------------------------------------------------------------------------------------------
// XML

TEST(ConfigXml, ReadsElementsAttributesAndTextByTheEarthFileRules)
{
    Config doc = fromXml("<?xml version=\"1.0\"?>\n"
                         "<!DOCTYPE map>\n"
                         "<Map Version=\"2\" Name=\"world\" type=\"geocentric\">\n"
                         "  <!-- a comment <image> that must vanish -->\n"
                         "  <Image name=\"base\" driver=\"gdal\">\n"
                         "     <URL>  world.tif  </URL>\n"
                         "  </Image>\n"
                         "  <options><![CDATA[ a < b ]]> &amp; more <lighting>false</lighting></options>\n"
                         "</Map>\n");
    EXPECT_EQ(doc.key(), "");
    ASSERT_EQ(doc.children().size(), 1u);
    EXPECT_EQ(describe(doc.child("map")), "map{name=world,type=geocentric,version=2,"
                                          "image{driver=gdal,name=base,url=world.tif},"
                                          "options=a < b  & more{lighting=false}}");
}

TEST(ConfigXml, AttributeAndElementFormsReadTheSame)
{
    const Config attributes = fromXml("<sky driver=\"simple\" hours=\"12\"/>");
    const Config elements = fromXml("<sky><driver>simple</driver><hours>12</hours></sky>");
    EXPECT_EQ(describe(attributes), describe(elements));
    EXPECT_EQ(describe(attributes), "{sky{driver=simple,hours=12}}");
    EXPECT_EQ(attributes.child("sky").value<float>("hours", 0.0f), 12.0f);
}

TEST(ConfigXml, RejectsMalformedDocumentsAndLeavesTheConfigUnchanged)
{
    Config conf("kept", "value");
    const std::string deep = std::string(100000, '<') + "a>";
    std::string deepElements;
    for (int i = 0; i < 5000; ++i)
    {
        deepElements += "<a>";
    }
    for (const std::string& bad :
         {std::string(), std::string("   "), std::string("<map>"), std::string("<a><b></a></b>"),
          std::string("<a></a><b/>"), std::string("<a x=1/>"), std::string("text <a/>"), std::string("<a/> text"),
          std::string("<!-- only a comment -->"), deep, deepElements})
    {
        std::istringstream in(bad);
        std::string error;
        EXPECT_FALSE(conf.fromXML(in, error)) << bad.substr(0, 20);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(describe(conf), "kept=value");
    }

    std::istringstream broken("<a><b></a>");
    veltra::test::NotifyCapture capture(osg::WARN);
    EXPECT_FALSE(conf.fromXML(broken));
    EXPECT_TRUE(capture.contains("Cannot read XML"));
}

TEST(ConfigXml, WritesXmlThatReadsBackTheSame)
{
    Config map("map");
    map.add("name", "a & \"b\" <c>");
    map.add("url", "one");
    map.add("url", "two");
    Config layer("feature_indexing");
    map.add(layer);
    Config options("options", "some text");
    options.add("lighting", "true");
    Config terrain("terrain");
    terrain.add("min_lod", 2);
    options.add(terrain);
    map.add(options);
    map.add("not a name", "dropped");

    const std::string xml = map.toXML();
    EXPECT_EQ(xml, "<map name=\"a &amp; &quot;b&quot; &lt;c&gt;\" url=\"one\">\n"
                   "    <url>two</url>\n"
                   "    <feature_indexing/>\n"
                   "    <options lighting=\"true\">some text\n"
                   "        <terrain min_lod=\"2\"/>\n"
                   "    </options>\n"
                   "</map>\n");
    Config back = fromXml(xml);
    EXPECT_EQ(describe(back.child("map")), "map{name=a & \"b\" <c>,url=one,url=two,feature_indexing,"
                                           "options=some text{lighting=true,terrain{min_lod=2}}}");
    EXPECT_EQ(back.toXML(), xml);
}

// ---------------------------------------------------------------------------------------------------------------
// Options

TEST(ConfigOptions, CopiesKeepTheKeysOfTheDerivedClass)
{
    Config conf("sky");
    conf.add("type", "gl");
    conf.add("extra", "kept");
    TintOptions tint{ConfigOptions(conf)};
    EXPECT_EQ(tint.getDriver(), "gl");
    EXPECT_FALSE(tint.alpha().isSet());

    tint.alpha() = 0.25f;
    tint.setDriver("simple");

    // Assigned into a base-typed slot, the derived keys survive and a later reader finds them again.
    DriverConfigOptions slot;
    slot = tint;
    EXPECT_EQ(slot.getDriver(), "simple");
    const Config written = slot.getConfig();
    EXPECT_EQ(written.value("alpha"), "0.25");
    EXPECT_EQ(written.value("extra"), "kept");
    EXPECT_EQ(written.value("driver"), "simple");

    TintOptions reread(slot);
    EXPECT_TRUE(reread.alpha().isSetTo(0.25f));

    Config both;
    both.add("driver", "simple");
    both.add("type", "gl");
    EXPECT_EQ(DriverConfigOptions(both).getDriver(), "simple");
    EXPECT_FALSE(DriverConfigOptions().getConfig().hasChild("driver"));

    DriverConfigOptions merged(both);
    Config other;
    other.add("type", "gl");
    merged.mergeConfig(other);
    EXPECT_EQ(merged.getDriver(), "gl");
}
