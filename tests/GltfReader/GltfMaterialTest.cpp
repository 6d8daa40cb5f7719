// Materials: base colour, alpha modes, sidedness, and the base colour texture from each place a
// picture can live (data URI, buffer view, external file), plus a picture that is missing.
#include "GltfAssets.h"
#include "GltfSceneQueries.h"

#include <TempDir.h>

#include <gtest/gtest.h>

#include <osg/AlphaFunc>
#include <osg/BlendFunc>
#include <osg/CullFace>
#include <osg/Material>
#include <osg/Texture2D>

using namespace veltra::test::gltf;

namespace {

// The triangle with TEXCOORD_0 and material 0 set from `material`.
GltfAsset materialAsset(const Json::Value& material)
{
    GltfAsset asset;
    Json::Value attributes;
    attributes["POSITION"] = asset.addFloats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    attributes["TEXCOORD_0"] = asset.addFloats({0.25f, 0.75f, 1, 1, 0, 0}, "VEC2");
    asset.add("materials", material);
    asset.addMesh("Tri", attributes, -1, 0);
    Json::Value node;
    node["name"] = "Part";
    node["mesh"] = 0;
    asset.addNode(node);
    asset.setScene("", {0});
    return asset;
}

Json::Value parse(const std::string& text)
{
    Json::Value value;
    std::istringstream in(text);
    Json::parseFromStream(Json::CharReaderBuilder(), in, &value, nullptr);
    return value;
}

osg::StateSet* stateOf(osg::Node* top)
{
    osg::Geometry* geometry = firstGeometry(top);
    return geometry ? geometry->getStateSet() : nullptr;
}

struct MaterialCase
{
    const char* name;
    const char* json;
    osg::Vec4 colour;
    bool blended;
    float alphaCutoff; // < 0: no alpha test
    bool culled;
};

class GltfMaterial : public testing::TestWithParam<MaterialCase>
{};

TEST_P(GltfMaterial, BecomesFixedFunctionState)
{
    const MaterialCase& expected = GetParam();
    osg::ref_ptr<osg::MatrixTransform> top =
        topOf(readBytes(materialAsset(parse(expected.json)).toGltf(), "/m/material.gltf"));
    osg::StateSet* state = stateOf(top.get());
    ASSERT_NE(state, nullptr);

    auto* material = dynamic_cast<osg::Material*>(state->getAttribute(osg::StateAttribute::MATERIAL));
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->getDiffuse(osg::Material::FRONT), expected.colour);
    EXPECT_EQ(material->getAmbient(osg::Material::FRONT), expected.colour);

    EXPECT_EQ(state->getAttribute(osg::StateAttribute::BLENDFUNC) != nullptr, expected.blended);
    EXPECT_EQ(state->getMode(GL_BLEND) == osg::StateAttribute::ON, expected.blended);
    EXPECT_EQ(state->getRenderingHint() == osg::StateSet::TRANSPARENT_BIN, expected.blended);

    auto* alphaTest = dynamic_cast<osg::AlphaFunc*>(state->getAttribute(osg::StateAttribute::ALPHAFUNC));
    if (expected.alphaCutoff < 0)
        EXPECT_EQ(alphaTest, nullptr);
    else
    {
        ASSERT_NE(alphaTest, nullptr);
        EXPECT_EQ(alphaTest->getFunction(), osg::AlphaFunc::GEQUAL);
        EXPECT_FLOAT_EQ(alphaTest->getReferenceValue(), expected.alphaCutoff);
        EXPECT_EQ(state->getMode(GL_ALPHA_TEST), osg::StateAttribute::ON);
    }

    EXPECT_EQ(state->getMode(GL_CULL_FACE), expected.culled ? osg::StateAttribute::ON : osg::StateAttribute::OFF);
    auto* cull = dynamic_cast<osg::CullFace*>(state->getAttribute(osg::StateAttribute::CULLFACE));
    if (expected.culled)
    {
        ASSERT_NE(cull, nullptr);
        EXPECT_EQ(cull->getMode(), osg::CullFace::BACK);
    }
    EXPECT_EQ(warningCount(top.get()), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Materials, GltfMaterial,
    testing::Values(
        MaterialCase{"DefaultIsWhiteOpaqueCulled", "{}", {1, 1, 1, 1}, false, -1, true},
        MaterialCase{"BaseColourFactor",
                     R"({"pbrMetallicRoughness":{"baseColorFactor":[0.25,0.5,0.75,1]}})",
                     {0.25f, 0.5f, 0.75f, 1},
                     false,
                     -1,
                     true},
        MaterialCase{"Blend",
                     R"({"alphaMode":"BLEND","pbrMetallicRoughness":{"baseColorFactor":[1,0,0,0.5]}})",
                     {1, 0, 0, 0.5f},
                     true,
                     -1,
                     true},
        MaterialCase{"MaskDefaultCutoff", R"({"alphaMode":"MASK"})", {1, 1, 1, 1}, false, 0.5f, true},
        MaterialCase{"MaskCutoff", R"({"alphaMode":"MASK","alphaCutoff":0.25})", {1, 1, 1, 1}, false, 0.25f, true},
        MaterialCase{"DoubleSided", R"({"doubleSided":true})", {1, 1, 1, 1}, false, -1, false},
        MaterialCase{"DoubleSidedBlend", R"({"doubleSided":true,"alphaMode":"BLEND"})", {1, 1, 1, 1}, true, -1, false}),
    [](const testing::TestParamInfo<MaterialCase>& param) { return std::string(param.param.name); });

TEST(GltfMaterialSharing, OneStateSetPerMaterial)
{
    GltfAsset asset = materialAsset(parse(R"({"alphaMode":"BLEND"})"));
    asset.addMesh("Other", asset.json["meshes"][0]["primitives"][0]["attributes"], -1, 0);
    Json::Value node;
    node["name"] = "Second";
    node["mesh"] = 1;
    asset.addNode(node);
    asset.setScene("", {0, 1});
    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(asset.toGltf(), "/m/shared.gltf"));
    auto* first = findNamed<osg::Geode>(top.get(), "Part");
    auto* second = findNamed<osg::Geode>(top.get(), "Second");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->getDrawable(0), second->getDrawable(0));
    EXPECT_EQ(first->getDrawable(0)->getStateSet(), second->getDrawable(0)->getStateSet());
}

enum class PictureSource
{
    DataUri,
    BufferView,
    ExternalFile
};

class GltfTexture : public testing::TestWithParam<PictureSource>
{
protected:
    veltra::test::TempDir _folder;
};

TEST_P(GltfTexture, BaseColourTextureIsReadBottomUp)
{
    const std::string png = fourColourPng();
    ASSERT_FALSE(png.empty()) << "osgDB's PNG writer is missing";
    GltfAsset asset = materialAsset(parse(R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}})"));
    Json::Value image;
    std::string bytes;
    std::string path = _folder.file("textured.gltf");
    switch (GetParam())
    {
    case PictureSource::DataUri: image["uri"] = dataUri("image/png", png); break;
    case PictureSource::BufferView:
        image["bufferView"] = asset.addView(png);
        image["mimeType"] = "image/png";
        path = _folder.file("textured.glb");
        break;
    case PictureSource::ExternalFile:
        _folder.write("maps/four colours.png", png);
        image["uri"] = "maps/four%20colours.png";
        break;
    }
    asset.add("images", image);
    Json::Value texture;
    texture["source"] = 0;
    asset.add("textures", texture);
    bytes = GetParam() == PictureSource::BufferView ? asset.toGlb() : asset.toGltf();

    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(bytes, path));
    osg::StateSet* state = stateOf(top.get());
    ASSERT_NE(state, nullptr);
    auto* map = dynamic_cast<osg::Texture2D*>(state->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_NE(map, nullptr);
    osg::Image* picture = map->getImage();
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->s(), 2);
    ASSERT_EQ(picture->t(), 2);
    // Row 0 of an osg::Image is the picture's bottom: red, as written.
    EXPECT_EQ(picture->getColor(0, 0), osg::Vec4(1, 0, 0, 1));
    EXPECT_EQ(picture->getColor(0, 1), osg::Vec4(0, 0, 1, 1));
    auto* texCoords = dynamic_cast<osg::Vec2Array*>(firstGeometry(top.get())->getTexCoordArray(0));
    ASSERT_NE(texCoords, nullptr);
    EXPECT_EQ((*texCoords)[0], osg::Vec2(0.25f, 0.25f)) << "glTF's v counts from the top";
    EXPECT_EQ(warningCount(top.get()), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sources, GltfTexture,
                         testing::Values(PictureSource::DataUri, PictureSource::BufferView,
                                         PictureSource::ExternalFile));

TEST(GltfTextureMissing, IsAWarningAndTheModelStays)
{
    veltra::test::TempDir folder;
    GltfAsset asset = materialAsset(parse(R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}})"));
    Json::Value image;
    image["uri"] = "absent.png";
    asset.add("images", image);
    Json::Value texture;
    texture["source"] = 0;
    asset.add("textures", texture);
    Json::Value broken;
    broken["uri"] = dataUri("image/png", "not a picture");
    asset.add("images", broken);

    osg::ref_ptr<osg::MatrixTransform> top = topOf(readBytes(asset.toGltf(), folder.file("model.gltf")));
    ASSERT_TRUE(top);
    osg::StateSet* state = stateOf(top.get());
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->getTextureAttribute(0, osg::StateAttribute::TEXTURE), nullptr);
    EXPECT_GE(warningCount(top.get()), 2u) << "the missing file and the undecodable picture";
}

} // namespace
