// Accessor layouts the reader must decode: interleaved strides, offsets, normalised integers and
// sparse substitutions, each checked on the values that reach the geometry.
#include "GltfAssets.h"
#include "GltfSceneQueries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace veltra::test::gltf;

namespace {

template <typename T>
std::string raw(const std::vector<T>& values)
{
    std::string out(values.size() * sizeof(T), '\0');
    std::memcpy(out.data(), values.data(), out.size());
    return out;
}

GltfAsset withMesh(GltfAsset asset, const Json::Value& attributes, int material = -1)
{
    asset.addMesh("Tri", attributes, -1, material);
    Json::Value node;
    node["name"] = "Part";
    node["mesh"] = 0;
    asset.addNode(node);
    asset.setScene("", {0});
    return asset;
}

GltfAsset interleaved()
{
    GltfAsset asset;
    // position and normal of each vertex side by side: 24 bytes a vertex
    const int view = asset.addView(raw<float>({0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1}), 24);
    Json::Value attributes;
    attributes["POSITION"] = asset.addAccessor(view, kFloat, 3, "VEC3");
    attributes["NORMAL"] = asset.addAccessor(view, kFloat, 3, "VEC3", 12);
    return withMesh(asset, attributes);
}

GltfAsset normalisedIntegers()
{
    GltfAsset asset;
    Json::Value attributes;
    attributes["POSITION"] = asset.addFloats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    attributes["TEXCOORD_0"] = asset.addAccessor(asset.addView(raw<std::uint16_t>({0, 0, 65535, 0, 0, 65535})),
                                                 kUnsignedShort, 3, "VEC2", 0, true);
    attributes["COLOR_0"] =
        asset.addAccessor(asset.addView(raw<std::uint8_t>({255, 0, 0, 255, 0, 255, 0, 51, 0, 0, 255, 255})),
                          kUnsignedByte, 3, "VEC4", 0, true);
    Json::Value material;
    material["pbrMetallicRoughness"]["baseColorFactor"] = Json::Value(Json::arrayValue);
    for (double f : {1.0, 1.0, 1.0, 0.5})
        material["pbrMetallicRoughness"]["baseColorFactor"].append(f);
    return withMesh(asset, attributes, asset.add("materials", material));
}

// Vertex 1 replaced through a sparse accessor; with `dataless` the base has no buffer view and is zeros.
GltfAsset sparse(bool dataless)
{
    GltfAsset asset;
    const int base = dataless ? -1 : asset.addView(raw<float>({0, 0, 0, 1, 0, 0, 0, 1, 0}));
    const int indices = asset.addView(raw<std::uint16_t>({1, 0}));
    const int values = asset.addView(raw<float>({5, 6, 7}));
    Json::Value attributes;
    attributes["POSITION"] = asset.addAccessor(base, kFloat, 3, "VEC3");
    Json::Value& accessor = asset.json["accessors"][0];
    accessor["sparse"]["count"] = 1;
    accessor["sparse"]["indices"]["bufferView"] = indices;
    accessor["sparse"]["indices"]["componentType"] = kUnsignedShort;
    accessor["sparse"]["values"]["bufferView"] = values;
    return withMesh(asset, attributes);
}

struct LayoutCase
{
    const char* name;
    std::function<GltfAsset()> build;
    const char* array; // "vertex", "normal", "texcoord" or "color"
    unsigned element;
    osg::Vec4 expected;
};

osg::Vec4 element(osg::Geometry& geometry, const std::string& array, unsigned i)
{
    if (array == "vertex" || array == "normal")
    {
        auto* values =
            dynamic_cast<osg::Vec3Array*>(array == "vertex" ? geometry.getVertexArray() : geometry.getNormalArray());
        return values && i < values->size() ? osg::Vec4((*values)[i], 0.0f) : osg::Vec4(-99, -99, -99, -99);
    }
    if (array == "texcoord")
    {
        auto* values = dynamic_cast<osg::Vec2Array*>(geometry.getTexCoordArray(0));
        return values && i < values->size() ? osg::Vec4((*values)[i].x(), (*values)[i].y(), 0.0f, 0.0f)
                                            : osg::Vec4(-99, -99, -99, -99);
    }
    auto* values = dynamic_cast<osg::Vec4Array*>(geometry.getColorArray());
    return values && i < values->size() ? (*values)[i] : osg::Vec4(-99, -99, -99, -99);
}

class GltfAccessorLayout : public testing::TestWithParam<LayoutCase>
{};

TEST_P(GltfAccessorLayout, ReachesTheGeometry)
{
    const LayoutCase& layout = GetParam();
    for (const bool binary : {false, true})
    {
        const GltfAsset asset = layout.build();
        osg::ref_ptr<osg::MatrixTransform> top =
            topOf(readBytes(binary ? asset.toGlb() : asset.toGltf(), binary ? "/m/a.glb" : "/m/a.gltf"));
        osg::Geometry* geometry = firstGeometry(top.get());
        ASSERT_NE(geometry, nullptr);
        const osg::Vec4 got = element(*geometry, layout.array, layout.element);
        EXPECT_TRUE((got - layout.expected).length() < 1e-4)
            << layout.array << "[" << layout.element << "] = " << got.x() << " " << got.y() << " " << got.z() << " "
            << got.w() << (binary ? " (glb)" : " (gltf)");
    }
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Layouts, GltfAccessorLayout,
    testing::Values(LayoutCase{"InterleavedPosition", interleaved, "vertex", 1, {1, 0, 0, 0}},
                    LayoutCase{"InterleavedNormalAtOffset", interleaved, "normal", 2, {0, 0, 1, 0}},
                    // glTF's v runs down the picture, OpenGL's t up: v = 0 becomes t = 1
                    LayoutCase{"NormalisedShortTexCoord", normalisedIntegers, "texcoord", 1, {1, 1, 0, 0}},
                    LayoutCase{"NormalisedShortTexCoordFlipped", normalisedIntegers, "texcoord", 2, {0, 0, 0, 0}},
                    // 51 / 255 = 0.2, times the base colour's alpha 0.5
                    LayoutCase{"NormalisedByteColourTimesBase", normalisedIntegers, "color", 1, {0, 1, 0, 0.1f}},
                    LayoutCase{"SparseReplacesAVertex", [] { return sparse(false); }, "vertex", 1, {5, 6, 7, 0}},
                    LayoutCase{"SparseKeepsTheOthers", [] { return sparse(false); }, "vertex", 2, {0, 1, 0, 0}},
                    LayoutCase{"SparseOverZeros", [] { return sparse(true); }, "vertex", 1, {5, 6, 7, 0}},
                    LayoutCase{"SparseZerosElsewhere", [] { return sparse(true); }, "vertex", 2, {0, 0, 0, 0}}),
    [](const testing::TestParamInfo<LayoutCase>& param) { return std::string(param.param.name); });
