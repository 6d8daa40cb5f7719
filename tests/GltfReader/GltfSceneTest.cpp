// The scene the glTF reader makes: names, placement, Y-up to Z-up, shared meshes, primitive modes
// and the accessor layouts they are read from.
#include "GltfAssets.h"
#include "GltfSceneQueries.h"

#include <gtest/gtest.h>

#include <osg/Geode>

#include <cmath>
#include <cstring>

using namespace veltra::test::gltf;

namespace {

Json::Value named(const std::string& name, int mesh = -1, const std::vector<int>& children = {})
{
    Json::Value node;
    if (!name.empty())
        node["name"] = name;
    if (mesh >= 0)
        node["mesh"] = mesh;
    for (int child : children)
        node["children"].append(child);
    return node;
}

Json::Value numbers(const std::vector<double>& values)
{
    Json::Value array(Json::arrayValue);
    for (double value : values)
        array.append(value);
    return array;
}

} // namespace

TEST(GltfScene, NodeNamesBecomeTransformAndGeodeNames)
{
    GltfAsset asset = triangleAsset();
    // nodes: 0 Part (mesh), 1 Building, 2 Floor2 (mesh), 3 unnamed node with the mesh
    asset.addNode(named("Building", -1, {0, 2, 3}));
    asset.addNode(named("Floor2", 0));
    asset.addNode(named("", 0));
    asset.setScene("Site", {1});

    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(asset.toGltf(), "/models/tower.gltf"));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->getName(), "Site");
    ASSERT_NE(findNamed<osg::MatrixTransform>(top.get(), "Building"), nullptr);
    auto* floor = findNamed<osg::MatrixTransform>(top.get(), "Floor2");
    ASSERT_NE(floor, nullptr);
    auto* part = findNamed<osg::Geode>(top.get(), "Part");
    auto* floorGeode = findNamed<osg::Geode>(floor, "Floor2");
    auto* unnamedGeode = findNamed<osg::Geode>(top.get(), "Tri"); // a nameless node's geode takes the mesh's name
    ASSERT_TRUE(part && floorGeode && unnamedGeode);
    EXPECT_EQ(part->getDrawable(0), floorGeode->getDrawable(0)) << "nodes sharing a mesh share its geometry";
    EXPECT_EQ(part->getDrawable(0), unnamedGeode->getDrawable(0));
    EXPECT_EQ(warningCount(top.get()), 0u);
}

TEST(GltfScene, TopTransformFallsBackToTheFileStem)
{
    GltfAsset asset = triangleAsset();
    asset.setScene("", {0});
    EXPECT_EQ(topOf(readBytes(asset.toGltf(), "/models/tower.gltf"))->getName(), "tower");
    EXPECT_EQ(topOf(readBytes(asset.toGlb(), "http://example.org/site/house.glb"))->getName(), "house");

    // Without any scene, every node that is nobody's child is a root.
    asset.json.removeMember("scenes");
    asset.json.removeMember("scene");
    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(asset.toGltf(), "/models/noscene.gltf"));
    EXPECT_EQ(top->getName(), "noscene");
    EXPECT_NE(findNamed<osg::Geode>(top.get(), "Part"), nullptr);
}

TEST(GltfScene, TopMatrixTurnsYUpIntoZUp)
{
    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(triangleAsset().toGltf(), "/m/a.gltf"));
    const osg::Matrixd& m = top->getMatrix();
    EXPECT_TRUE((osg::Vec3d(0, 1, 0) * m - osg::Vec3d(0, 0, 1)).length() < 1e-12) << "+Y up becomes +Z up";
    EXPECT_TRUE((osg::Vec3d(0, 0, 1) * m - osg::Vec3d(0, -1, 0)).length() < 1e-12) << "glTF's front faces -Y";
    EXPECT_TRUE((osg::Vec3d(3, 0, 0) * m - osg::Vec3d(3, 0, 0)).length() < 1e-12) << "metres are kept";
}

struct PlacementCase
{
    const char* name;
    std::vector<Json::Value> nodes; // node 0 is the root; the triangle mesh hangs on the last node
    osg::Vec3 min;
    osg::Vec3 max;
};

class GltfPlacement : public testing::TestWithParam<PlacementCase>
{};

// The triangle (0,0,0) (1,0,0) (0,1,0) placed by each case, seen in the viewer's Z-up world:
// glTF (x, y, z) lands at (x, -z, y).
TEST_P(GltfPlacement, GivesExactWorldBounds)
{
    GltfAsset asset = triangleAsset();
    asset.json["nodes"] = Json::Value(Json::arrayValue);
    for (const Json::Value& node : GetParam().nodes)
        asset.addNode(node);
    asset.json["nodes"][int(GetParam().nodes.size()) - 1]["mesh"] = 0;
    asset.setScene("Site", {0});

    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(asset.toGltf(), "/m/placed.gltf"));
    ASSERT_TRUE(top);
    const osg::BoundingBox box = worldBounds(top.get());
    for (int axis = 0; axis < 3; ++axis)
    {
        EXPECT_NEAR(box._min[axis], GetParam().min[axis], 1e-5) << "axis " << axis;
        EXPECT_NEAR(box._max[axis], GetParam().max[axis], 1e-5) << "axis " << axis;
    }
}

Json::Value trs(const char* key, const std::vector<double>& values, Json::Value node = Json::Value())
{
    node[key] = numbers(values);
    return node;
}

const double kHalfRoot = std::sqrt(0.5);

INSTANTIATE_TEST_SUITE_P(
    Nodes, GltfPlacement,
    testing::Values(PlacementCase{"Identity", {named("n")}, {0, 0, 0}, {1, 0, 1}},
                    PlacementCase{"Translation", {trs("translation", {10, 20, 30})}, {10, -30, 20}, {11, -30, 21}},
                    PlacementCase{"Scale", {trs("scale", {2, 3, 4})}, {0, 0, 0}, {2, 0, 3}},
                    PlacementCase{
                        "RotationAboutY", {trs("rotation", {0, kHalfRoot, 0, kHalfRoot})}, {0, 0, 0}, {0, 1, 1}},
                    PlacementCase{"ColumnMajorMatrix",
                                  {trs("matrix", {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1})},
                                  {5, -7, 6},
                                  {6, -7, 7}},
                    PlacementCase{"ScaleThenRotateThenTranslate",
                                  {trs("translation", {1, 2, 3},
                                       trs("rotation", {0, 0, kHalfRoot, kHalfRoot}, trs("scale", {2, 1, 1})))},
                                  {0, -3, 2},
                                  {1, -3, 4}},
                    PlacementCase{"ChildInsideParent",
                                  {trs("translation", {1, 0, 0}, named("parent", -1, {1})), trs("scale", {2, 2, 2})},
                                  {1, 0, 0},
                                  {3, 0, 2}}),
    [](const testing::TestParamInfo<PlacementCase>& param) { return std::string(param.param.name); });

struct ModeCase
{
    const char* name;
    int gltfMode;
    bool indexed;
    GLenum expectedMode;
    bool flatNormals; // triangles without normals get one normal per corner, de-indexed
    bool zigzag;      // a strip's corners alternate sides
};

class GltfModes : public testing::TestWithParam<ModeCase>
{};

TEST_P(GltfModes, MakeTheMatchingPrimitiveSet)
{
    const ModeCase& mode = GetParam();
    GltfAsset asset;
    Json::Value attributes;
    attributes["POSITION"] = mode.zigzag ? asset.addFloats({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, "VEC3")
                                         : asset.addFloats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, "VEC3");
    const int indices = mode.indexed ? asset.addIndices({0, 1, 2, 0, 2, 3}) : -1;
    asset.addMesh("Quad", attributes, indices, -1, mode.gltfMode);
    asset.addNode(named("Quad", 0));
    asset.setScene("", {0});

    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(asset.toGlb(), "/m/modes.glb"));
    osg::Geometry* geometry = firstGeometry(top.get());
    ASSERT_NE(geometry, nullptr);
    ASSERT_EQ(geometry->getNumPrimitiveSets(), 1u);
    EXPECT_EQ(geometry->getPrimitiveSet(0)->getMode(), mode.expectedMode);
    auto* normals = dynamic_cast<osg::Vec3Array*>(geometry->getNormalArray());
    if (!mode.flatNormals)
    {
        EXPECT_EQ(normals, nullptr) << "points and lines need no normals";
        return;
    }
    ASSERT_NE(normals, nullptr);
    EXPECT_EQ(normals->size(), geometry->getVertexArray()->getNumElements());
    EXPECT_EQ(normals->size() % 3, 0u);
    for (const osg::Vec3& normal : *normals)
        EXPECT_TRUE((normal - osg::Vec3(0, 0, 1)).length() < 1e-6) << "counter-clockwise faces +Z";
}

INSTANTIATE_TEST_SUITE_P(Modes, GltfModes,
                         testing::Values(ModeCase{"Points", 0, false, GL_POINTS, false, false},
                                         ModeCase{"Lines", 1, true, GL_LINES, false, false},
                                         ModeCase{"LineLoop", 2, false, GL_LINE_LOOP, false, false},
                                         ModeCase{"LineStrip", 3, false, GL_LINE_STRIP, false, false},
                                         ModeCase{"TrianglesIndexed", 4, true, GL_TRIANGLES, true, false},
                                         ModeCase{"Strip", 5, false, GL_TRIANGLES, true, true},
                                         ModeCase{"Fan", 6, false, GL_TRIANGLES, true, false}),
                         [](const testing::TestParamInfo<ModeCase>& param) { return std::string(param.param.name); });

TEST(GltfScene, GivenNormalsAndIndicesAreKept)
{
    GltfAsset asset;
    Json::Value attributes;
    attributes["POSITION"] = asset.addFloats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    attributes["NORMAL"] = asset.addFloats({0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3");
    for (int type : {kUnsignedByte, kUnsignedShort, kUnsignedInt})
    {
        const int indices = asset.addIndices({2, 1, 0}, type);
        asset.addMesh("m" + std::to_string(type), attributes, indices);
        asset.addNode(named("n" + std::to_string(type), int(asset.json["meshes"].size()) - 1));
    }
    asset.setScene("", {0, 1, 2});
    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(asset.toGltf(), "/m/indices.gltf"));
    for (const char* name : {"n5121", "n5123", "n5125"})
    {
        auto* geode = findNamed<osg::Geode>(top.get(), name);
        ASSERT_NE(geode, nullptr) << name;
        auto* elements = dynamic_cast<osg::DrawElements*>(geode->getDrawable(0)->asGeometry()->getPrimitiveSet(0));
        ASSERT_NE(elements, nullptr) << name;
        ASSERT_EQ(elements->getNumIndices(), 3u);
        EXPECT_EQ(elements->index(0), 2u) << name;
        EXPECT_EQ(elements->index(2), 0u) << name;
    }
}
