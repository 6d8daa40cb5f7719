#include "FeatureTestSupport.h"
#include "NotifyCapture.h"

#include <osgEarthFeatures/Feature>
#include <osgEarthSymbology/Geometry>
#include <src/features/GeoJSONReader.h>

#include <osg/Node>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

using namespace osgEarth::Features;
using namespace osgEarth::Symbology;

namespace {

std::string feature(const std::string& geometry, const std::string& extra = "")
{
    return R"({"type":"Feature")" + extra + R"(,"properties":{},"geometry":)" + geometry + "}";
}

std::string collection(const std::vector<std::string>& features)
{
    std::string text = R"({"type":"FeatureCollection","features":[)";
    for (std::size_t i = 0; i < features.size(); ++i)
    {
        text += (i ? "," : "") + features[i];
    }
    return text + "]}";
}

const std::string point = R"({"type":"Point","coordinates":[10,20]})";

// Holds the reader's warnings so expected refusals do not flood the test log.
class GeoJSONReaderTest : public ::testing::Test
{
protected:
    veltra::test::NotifyCapture warnings{osg::WARN};

    FeatureList readOrFail(const std::string& text)
    {
        FeatureList out;
        std::string error;
        EXPECT_TRUE(readGeoJSON(text, out, error)) << error << "\n" << text;
        EXPECT_TRUE(error.empty());
        return out;
    }
};

} // namespace

TEST(RefFeatureIDTest, ConvertsBackToTheFeatureIDAndSurvivesAsUserData)
{
    static_assert(std::is_base_of_v<osg::Referenced, RefFeatureID>);
    static_assert(std::has_virtual_destructor_v<RefFeatureID>);
    static_assert(std::is_convertible_v<RefFeatureID, FeatureID>);

    const FeatureID big = 4000000000ul;
    osg::ref_ptr<RefFeatureID> tag = new RefFeatureID(big);
    const FeatureID back = *tag;
    EXPECT_EQ(back, big);

    osg::ref_ptr<osg::Node> holder = new osg::Node();
    holder->setUserData(tag.get());
    const auto* found = dynamic_cast<const RefFeatureID*>(holder->getUserData());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(FeatureID(*found), big);
}

TEST(GeometryTest, ValidityCoversHolesAndParts)
{
    osg::ref_ptr<Polygon> polygon = new Polygon();
    for (const osg::Vec3d& p : {osg::Vec3d(0, 0, 0), osg::Vec3d(4, 0, 0), osg::Vec3d(4, 4, 0)})
    {
        polygon->push_back(p);
    }
    EXPECT_TRUE(polygon->isValid());
    osg::ref_ptr<Ring> hole = new Ring();
    hole->push_back(osg::Vec3d(1, 1, 0));
    hole->push_back(osg::Vec3d(2, 1, 0));
    polygon->getHoles().push_back(hole);
    EXPECT_FALSE(polygon->isValid()) << "a two-point hole";
    hole->push_back(osg::Vec3d(2, 2, 0));
    EXPECT_TRUE(polygon->isValid());
    EXPECT_EQ(polygon->getTotalPointCount(), 6u);

    osg::ref_ptr<MultiGeometry> multi = new MultiGeometry();
    EXPECT_FALSE(multi->isValid()) << "no parts";
    EXPECT_FALSE(multi->getBounds().valid());
    multi->add(polygon.get());
    osg::ref_ptr<Point> far = new Point();
    far->push_back(osg::Vec3d(-10, 50, 7));
    multi->add(far.get());
    EXPECT_TRUE(multi->isValid());
    EXPECT_EQ(multi->getTotalPointCount(), 7u);
    const osg::BoundingBoxd box = multi->getBounds();
    EXPECT_EQ(box.xMin(), -10);
    EXPECT_EQ(box.yMax(), 50);
    EXPECT_EQ(box.zMax(), 7);
    multi->add(new LineString());
    EXPECT_FALSE(multi->isValid()) << "an empty part";
}

TEST(FeatureTest, AttributesConvertBetweenKinds)
{
    osg::ref_ptr<Feature> f = new Feature(3);
    f->set("name", "Haydnstraße");
    f->set("lanes", 2);
    f->set("width", 5.5);
    f->set("oneway", true);
    f->set("count", std::string(" 12 "));
    f->set("huge", 1e300);

    EXPECT_EQ(f->getAttrs().at("name").type, ATTRTYPE_STRING) << "a literal must not become a bool";
    EXPECT_EQ(f->getString("name"), "Haydnstraße");
    EXPECT_EQ(f->getString("lanes"), "2");
    EXPECT_EQ(f->getString("width"), "5.5");
    EXPECT_EQ(f->getString("oneway"), "true");
    EXPECT_EQ(f->getString("missing"), "");
    EXPECT_EQ(f->getDouble("count", -1), 12);
    EXPECT_EQ(f->getDouble("name", -1), -1);
    EXPECT_EQ(f->getDouble("missing", -1), -1);
    EXPECT_EQ(f->getInt("width"), 5);
    EXPECT_EQ(f->getInt("huge", -7), -7) << "out of int's range";
    EXPECT_TRUE(f->getBool("lanes"));
    EXPECT_TRUE(f->hasAttr("oneway"));
    EXPECT_FALSE(f->hasAttr("missing"));
    f->set("lanes", std::string("many"));
    EXPECT_EQ(f->getInt("lanes", -1), -1) << "set replaces the kind too";
}

TEST_F(GeoJSONReaderTest, ReadsEveryGeometryType)
{
    const struct
    {
        const char* name;
        std::string geometry;
        Geometry::Type type;
        unsigned points;
        std::size_t holes;
        std::size_t parts;
    } cases[] = {
        {"point with height", R"({"type":"Point","coordinates":[10,20,30]})", Geometry::TYPE_POINT, 1, 0, 0},
        {"line", R"({"type":"LineString","coordinates":[[0,0],[1,1],[2,0]]})", Geometry::TYPE_LINESTRING, 3, 0, 0},
        {"polygon with a hole, closing points dropped",
         R"({"type":"Polygon","coordinates":[[[0,0],[10,0],[10,10],[0,10],[0,0]],[[2,2],[3,2],[3,3],[2,2]]]})",
         Geometry::TYPE_POLYGON, 7, 1, 0},
        {"unclosed ring", R"({"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1]]]})", Geometry::TYPE_POLYGON, 3, 0, 0},
        {"multipoint", R"({"type":"MultiPoint","coordinates":[[0,0],[1,1],[2,2]]})", Geometry::TYPE_POINTSET, 3, 0, 0},
        {"multilinestring", R"({"type":"MultiLineString","coordinates":[[[0,0],[1,1]],[[2,2],[3,3],[4,4]]]})",
         Geometry::TYPE_MULTI, 5, 0, 2},
        {"multipolygon",
         R"({"type":"MultiPolygon","coordinates":[[[[0,0],[1,0],[1,1],[0,0]]],)"
         R"([[[5,5],[9,5],[9,9],[5,9],[5,5]],[[6,6],[7,6],[7,7],[6,6]]]]})",
         Geometry::TYPE_MULTI, 10, 0, 2},
        {"nested collection",
         R"({"type":"GeometryCollection","geometries":[{"type":"Point","coordinates":[1,2]},)"
         R"({"type":"LineString","coordinates":[[0,0],[1,1]]},)"
         R"({"type":"GeometryCollection","geometries":[{"type":"Point","coordinates":[3,4]}]}]})",
         Geometry::TYPE_MULTI, 4, 0, 3},
        {"edges of the range", R"({"type":"LineString","coordinates":[[-180,-90],[180,90]]})",
         Geometry::TYPE_LINESTRING, 2, 0, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        for (const std::string& text : {feature(c.geometry), c.geometry})
        {
            const FeatureList read = readOrFail(text);
            ASSERT_EQ(read.size(), 1u);
            const Geometry* geometry = read.front()->getGeometry();
            ASSERT_NE(geometry, nullptr);
            EXPECT_EQ(geometry->getType(), c.type);
            EXPECT_TRUE(geometry->isValid());
            EXPECT_EQ(geometry->getTotalPointCount(), c.points);
            const auto* polygon = dynamic_cast<const Polygon*>(geometry);
            EXPECT_EQ(polygon ? polygon->getHoles().size() : 0u, c.holes);
            const auto* multi = dynamic_cast<const MultiGeometry*>(geometry);
            EXPECT_EQ(multi ? multi->getComponents().size() : 0u, c.parts);
        }
    }
}

TEST_F(GeoJSONReaderTest, KeepsCoordinatesInOrder)
{
    const FeatureList read = readOrFail(feature(R"({"type":"LineString","coordinates":[[10.5,48.1,400],[-3,-4]]})"));
    ASSERT_EQ(read.size(), 1u);
    const Geometry& line = *read.front()->getGeometry();
    ASSERT_EQ(line.size(), 2u);
    EXPECT_EQ(line[0], osg::Vec3d(10.5, 48.1, 400));
    EXPECT_EQ(line[1], osg::Vec3d(-3, -4, 0)) << "a missing height is 0";
}

TEST_F(GeoJSONReaderTest, FeatureIdsComeFromTheIdMemberElsePosition)
{
    const struct
    {
        const char* name;
        std::vector<std::string> features;
        std::vector<FeatureID> ids;
    } cases[] = {
        {"numbers", {feature(point, R"(,"id":7)"), feature(point, R"(,"id":9)")}, {7, 9}},
        {"texts of digits", {feature(point, R"(,"id":"12")"), feature(point, R"(,"id":"0013")")}, {12, 13}},
        {"none", {feature(point), feature(point), feature(point)}, {0, 1, 2}},
        {"mixed", {feature(point, R"(,"id":5)"), feature(point), feature(point, R"(,"id":null)")}, {5, 1, 2}},
        {"beyond 32 bits", {feature(point, R"(,"id":4000000000)")}, {4000000000ul}},
        {"id inside properties is only an attribute",
         {R"({"type":"Feature","properties":{"id":4},"geometry":)" + point + "}"},
         {0}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const FeatureList read = readOrFail(collection(c.features));
        std::vector<FeatureID> ids;
        for (const auto& f : read)
        {
            ids.push_back(f->getFID());
        }
        EXPECT_EQ(ids, c.ids);
    }
}

TEST_F(GeoJSONReaderTest, AttributesKeepTheirKinds)
{
    const std::string text =
        R"({"type":"Feature","properties":{"name":"Goethestraße","lanes":2,"width":5.5,"oneway":true,)"
        R"("nothing":null,"big":12345678901,"tags":["a","b"],"nested":{"k":1}},"geometry":)" +
        point + "}";
    const FeatureList read = readOrFail(text);
    ASSERT_EQ(read.size(), 1u);
    const Feature& f = *read.front();
    const AttributeTable& attrs = f.getAttrs();
    EXPECT_EQ(f.getString("name"), "Goethestraße");
    EXPECT_EQ(attrs.at("lanes").type, ATTRTYPE_INT);
    EXPECT_EQ(f.getInt("lanes"), 2);
    EXPECT_EQ(attrs.at("width").type, ATTRTYPE_DOUBLE);
    EXPECT_EQ(f.getDouble("width"), 5.5);
    EXPECT_EQ(attrs.at("oneway").type, ATTRTYPE_BOOL);
    EXPECT_TRUE(f.getBool("oneway"));
    EXPECT_FALSE(f.hasAttr("nothing"));
    EXPECT_EQ(attrs.at("big").type, ATTRTYPE_DOUBLE) << "too wide for int";
    EXPECT_EQ(f.getDouble("big"), 12345678901.0);
    EXPECT_NE(f.getString("tags").find('b'), std::string::npos);
    EXPECT_NE(f.getString("nested").find('k'), std::string::npos);
}

TEST_F(GeoJSONReaderTest, ProjectedTextsSkipTheRangeCheck)
{
    const std::string text = R"({"type":"FeatureCollection","crs":{"type":"name","properties":{"name":"EPSG:3857"}},)"
                             R"("features":[)" +
                             feature(R"({"type":"Point","coordinates":[1113194.9,6446275.8]})") + "]}";
    const FeatureList read = readOrFail(text);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ((*read.front()->getGeometry())[0].x(), 1113194.9);
}

TEST_F(GeoJSONReaderTest, RefusesBadTextsAndAddsNothing)
{
    std::string deepArray(10000, '[');
    deepArray += std::string(10000, ']');
    std::string deepCollection = point;
    for (int i = 0; i < 100; ++i)
    {
        deepCollection = R"({"type":"GeometryCollection","geometries":[)" + deepCollection + "]}";
    }
    const std::string good = collection({feature(point, R"(,"id":1)"), feature(point, R"(,"id":2)")});
    const std::string polygon = R"({"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]})";

    const struct
    {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"blank", " \n\t "},
        {"not JSON", "hello, world"},
        {"truncated", good.substr(0, good.size() / 2)},
        {"an opening brace", "{"},
        {"JSON but not GeoJSON", R"({"foo":1})"},
        {"unknown geometry type", feature(R"({"type":"Pointx","coordinates":[1,2]})")},
        {"unknown part type", feature(R"({"type":"GeometryCollection","geometries":[)" + point +
                                      R"(,{"type":"Blob","coordinates":[1,2]}]})")},
        {"null geometry", feature("null")},
        {"empty line", feature(R"({"type":"LineString","coordinates":[]})")},
        {"one-point line", feature(R"({"type":"LineString","coordinates":[[1,2]]})")},
        {"two-point ring", feature(R"({"type":"Polygon","coordinates":[[[0,0],[1,1],[0,0]]]})")},
        {"degenerate hole", feature(R"({"type":"Polygon","coordinates":[[[0,0],[5,0],[5,5],[0,0]],[[1,1],[2,2]]]})")},
        {"empty multipoint", feature(R"({"type":"MultiPoint","coordinates":[]})")},
        {"empty collection", feature(R"({"type":"GeometryCollection","geometries":[]})")},
        {"short point", feature(R"({"type":"Point","coordinates":[1]})")},
        {"infinite coordinate", feature(R"({"type":"Point","coordinates":[1e400,2]})")},
        {"NaN coordinate", feature(R"({"type":"Point","coordinates":[NaN,2]})")},
        {"longitude out of range", feature(R"({"type":"Point","coordinates":[180.5,0]})")},
        {"latitude out of range", feature(R"({"type":"LineString","coordinates":[[0,0],[0,-91]]})")},
        {"fractional id", feature(point, R"(,"id":1.5)")},
        {"negative id", feature(point, R"(,"id":-3)")},
        {"text id", feature(point, R"(,"id":"abc")")},
        {"digits then text", feature(point, R"(,"id":"12a")")},
        {"boolean id", feature(point, R"(,"id":true)")},
        {"object id", feature(point, R"(,"id":{"n":1})")},
        {"deeply nested properties",
         R"({"type":"Feature","properties":{"x":)" + deepArray + R"(},"geometry":)" + point + "}"},
        {"deeply nested collections", feature(deepCollection)},
        {"one bad feature among good ones",
         collection({feature(point), feature(polygon), feature(R"({"type":"Point","coordinates":[0,95]})")})},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        FeatureList out;
        out.push_back(new Feature(99));
        std::string error;
        EXPECT_FALSE(readGeoJSON(c.text, out, error));
        EXPECT_FALSE(error.empty());
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out.front()->getFID(), 99u);
    }
    EXPECT_TRUE(warnings.contains("GeoJSON"));
}

TEST_F(GeoJSONReaderTest, RefusesTextsOverTheSizeLimit)
{
    std::string text = feature(point);
    text.resize(maxGeoJSONBytes + 1, ' ');
    FeatureList out;
    std::string error;
    EXPECT_FALSE(readGeoJSON(text, out, error));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(error.empty());
}

TEST_F(GeoJSONReaderTest, FuzzedTextsNeverCrashAndStayAllOrNothing)
{
    const std::string base = collection({
        feature(R"({"type":"Point","coordinates":[10,20,30]})", R"(,"id":3)"),
        feature(R"({"type":"Polygon","coordinates":[[[0,0],[10,0],[10,10],[0,0]],[[1,1],[2,1],[2,2],[1,1]]]})"),
        feature(R"({"type":"MultiLineString","coordinates":[[[0,0],[1,1]],[[2,2],[3,3]]]})", R"(,"id":"8")"),
        R"({"type":"Feature","properties":{"a":[1,{"b":null}],"c":"d"},"geometry":{"type":"GeometryCollection",)"
        R"("geometries":[{"type":"MultiPoint","coordinates":[[1,2]]},{"type":"MultiPolygon","coordinates":)"
        R"([[[[0,0],[1,0],[1,1],[0,0]]]]}]}})",
    });
    ASSERT_EQ(readOrFail(base).size(), 4u);

    std::mt19937 random(20240607u);
    int accepted = 0;
    const std::string alphabet = "{}[]\",:-.0123456789eE \\nulltrue";
    auto position = [&](std::size_t size) { return std::uniform_int_distribution<std::size_t>(0, size)(random); };
    for (int round = 0; round < 3000; ++round)
    {
        std::string text = base;
        switch (round % 4)
        {
        case 0: text.resize(position(text.size())); break;
        case 1:
            for (int flips = 1 + round % 5; flips > 0; --flips)
            {
                text[position(text.size() - 1)] = char(std::uniform_int_distribution<int>(0, 255)(random));
            }
            break;
        case 2:
            for (int flips = 1 + round % 3; flips > 0; --flips)
            {
                text[position(text.size() - 1)] = alphabet[position(alphabet.size() - 1)];
            }
            break;
        default:
        {
            const std::size_t at = position(text.size());
            const std::size_t depth = position(200);
            text.insert(at, std::string(depth, round % 8 < 4 ? '[' : '{'));
            text.insert(position(text.size()), std::string(position(depth), round % 8 < 4 ? ']' : '}'));
            break;
        }
        }
        FeatureList out;
        std::string error;
        if (readGeoJSON(text, out, error))
        {
            ++accepted;
            for (const auto& f : out)
            {
                ASSERT_TRUE(f->getGeometry() && f->getGeometry()->isValid()) << text;
                const osg::BoundingBoxd box = f->getGeometry()->getBounds();
                ASSERT_TRUE(box.xMin() >= -180 && box.xMax() <= 180 && box.yMin() >= -90 && box.yMax() <= 90) << text;
            }
        }
        else
        {
            ASSERT_TRUE(out.empty()) << text;
            ASSERT_FALSE(error.empty()) << text;
        }
    }
    // Mutations inside values and whitespace leave readable texts; a reader refusing everything would fail here.
    EXPECT_GT(accepted, 0);
}

TEST_F(GeoJSONReaderTest, ConcurrentReadsSeeOnlyTheirOwnText)
{
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back([t, &mismatches] {
            for (int i = 0; i < 50; ++i)
            {
                const FeatureID id = FeatureID(t * 1000 + i);
                FeatureList out;
                std::string error;
                const bool ok = readGeoJSON(feature(point, ",\"id\":" + std::to_string(id)), out, error);
                if (!ok || out.size() != 1 || out.front()->getFID() != id)
                {
                    ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST_F(GeoJSONReaderTest, ReadsRealData)
{
    const std::filesystem::path countries = featuretest::sampleGeoData() / "ne_110m_admin_0_countries.geojson";
    if (!std::filesystem::is_regular_file(countries))
    {
        GTEST_SKIP() << "no shared geographic data";
    }
    std::ifstream in(countries, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const FeatureList read = readOrFail(text.str());
    ASSERT_EQ(read.size(), 177u);
    FeatureID expected = 0;
    for (const auto& f : read)
    {
        EXPECT_EQ(f->getFID(), expected++) << "no ids in the file: positions";
        const Geometry::Type type = f->getGeometry()->getType();
        EXPECT_TRUE(type == Geometry::TYPE_POLYGON || type == Geometry::TYPE_MULTI);
        EXPECT_FALSE(f->getString("ADMIN").empty());
    }
}
