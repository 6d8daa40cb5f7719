#include "GltfMaterials.h"

#include "GltfImages.h"

#include <osg/AlphaFunc>
#include <osg/BlendFunc>
#include <osg/CullFace>
#include <osg/LightModel>
#include <osg/Material>

namespace veltra::gltf {

namespace {

osg::Texture::WrapMode wrapMode(int glTFWrap)
{
    switch (glTFWrap)
    {
    case TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE: return osg::Texture::CLAMP_TO_EDGE;
    case TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT: return osg::Texture::MIRROR;
    default: return osg::Texture::REPEAT;
    }
}

osg::Texture::FilterMode filterMode(int glTFFilter, osg::Texture::FilterMode fallback)
{
    switch (glTFFilter)
    {
    case TINYGLTF_TEXTURE_FILTER_NEAREST: return osg::Texture::NEAREST;
    case TINYGLTF_TEXTURE_FILTER_LINEAR: return osg::Texture::LINEAR;
    case TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST: return osg::Texture::NEAREST_MIPMAP_NEAREST;
    case TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST: return osg::Texture::LINEAR_MIPMAP_NEAREST;
    case TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR: return osg::Texture::NEAREST_MIPMAP_LINEAR;
    case TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR: return osg::Texture::LINEAR_MIPMAP_LINEAR;
    default: return fallback;
    }
}

} // namespace

MaterialBuilder::MaterialBuilder(const tinygltf::Model& model, const std::map<int, osg::ref_ptr<osg::Image>>& uriImages,
                                 GltfDiagnostics& diagnostics)
    : _model(model), _uriImages(uriImages), _diagnostics(diagnostics)
{}

const tinygltf::Material* MaterialBuilder::material(int index) const
{
    if (index < 0 || std::size_t(index) >= _model.materials.size())
        return nullptr;
    return &_model.materials[std::size_t(index)];
}

osg::Vec4 MaterialBuilder::baseColor(int index) const
{
    const tinygltf::Material* source = material(index);
    if (!source || source->pbrMetallicRoughness.baseColorFactor.size() != 4)
        return osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f);
    const std::vector<double>& factor = source->pbrMetallicRoughness.baseColorFactor;
    return osg::Vec4(float(factor[0]), float(factor[1]), float(factor[2]), float(factor[3]));
}

int MaterialBuilder::baseColorTexCoord(int index) const
{
    const tinygltf::Material* source = material(index);
    if (!source || source->pbrMetallicRoughness.baseColorTexture.index < 0)
        return -1;
    return source->pbrMetallicRoughness.baseColorTexture.texCoord;
}

osg::ref_ptr<osg::StateSet> MaterialBuilder::stateSet(int index, bool vertexColors)
{
    if (index >= 0 && !material(index))
    {
        _diagnostics.warn("material " + std::to_string(index) + " does not exist; the default material is used");
        index = -1;
    }
    osg::ref_ptr<osg::StateSet>& cached = _stateSets[{index, vertexColors}];
    if (!cached)
        cached = build(index, vertexColors);
    return cached;
}

osg::ref_ptr<osg::StateSet> MaterialBuilder::build(int index, bool vertexColors)
{
    osg::ref_ptr<osg::StateSet> state = new osg::StateSet;
    const tinygltf::Material* source = material(index);
    if (source)
        state->setName(source->name);

    osg::ref_ptr<osg::Material> colour = new osg::Material;
    const osg::Vec4 base = baseColor(index);
    colour->setDiffuse(osg::Material::FRONT_AND_BACK, base);
    colour->setAmbient(osg::Material::FRONT_AND_BACK, base);
    colour->setSpecular(osg::Material::FRONT_AND_BACK, osg::Vec4(0.0f, 0.0f, 0.0f, base.a()));
    if (vertexColors)
        colour->setColorMode(osg::Material::AMBIENT_AND_DIFFUSE);
    state->setAttributeAndModes(colour.get());

    const bool doubleSided = source && source->doubleSided;
    if (doubleSided)
    {
        state->setMode(GL_CULL_FACE, osg::StateAttribute::OFF);
        osg::ref_ptr<osg::LightModel> lighting = new osg::LightModel;
        lighting->setTwoSided(true);
        state->setAttribute(lighting.get());
    }
    else
        state->setAttributeAndModes(new osg::CullFace(osg::CullFace::BACK));

    const std::string alphaMode = source ? source->alphaMode : std::string("OPAQUE");
    if (alphaMode == "BLEND")
    {
        state->setAttributeAndModes(new osg::BlendFunc(osg::BlendFunc::SRC_ALPHA, osg::BlendFunc::ONE_MINUS_SRC_ALPHA));
        state->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
    }
    else if (alphaMode == "MASK")
        state->setAttributeAndModes(new osg::AlphaFunc(osg::AlphaFunc::GEQUAL, float(source->alphaCutoff)));
    else if (alphaMode != "OPAQUE")
        _diagnostics.warn("material " + std::to_string(index) + " has unknown alphaMode \"" + alphaMode + "\"");

    if (source && source->pbrMetallicRoughness.baseColorTexture.index >= 0)
    {
        if (osg::ref_ptr<osg::Texture2D> map = texture(source->pbrMetallicRoughness.baseColorTexture.index))
            state->setTextureAttributeAndModes(0, map.get());
    }
    return state;
}

osg::ref_ptr<osg::Texture2D> MaterialBuilder::texture(int index)
{
    auto found = _textures.find(index);
    if (found != _textures.end())
        return found->second;
    osg::ref_ptr<osg::Texture2D>& made = _textures[index];
    if (std::size_t(index) >= _model.textures.size())
    {
        _diagnostics.warn("texture " + std::to_string(index) + " does not exist");
        return nullptr;
    }
    const tinygltf::Texture& source = _model.textures[std::size_t(index)];
    osg::ref_ptr<osg::Image> picture = image(source.source);
    if (!picture)
        return nullptr;
    made = new osg::Texture2D(picture.get());
    made->setName(source.name);
    made->setWrap(osg::Texture::WRAP_S, osg::Texture::REPEAT);
    made->setWrap(osg::Texture::WRAP_T, osg::Texture::REPEAT);
    made->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR_MIPMAP_LINEAR);
    made->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    if (source.sampler >= 0 && std::size_t(source.sampler) < _model.samplers.size())
    {
        const tinygltf::Sampler& sampler = _model.samplers[std::size_t(source.sampler)];
        made->setWrap(osg::Texture::WRAP_S, wrapMode(sampler.wrapS));
        made->setWrap(osg::Texture::WRAP_T, wrapMode(sampler.wrapT));
        made->setFilter(osg::Texture::MIN_FILTER, filterMode(sampler.minFilter, osg::Texture::LINEAR_MIPMAP_LINEAR));
        made->setFilter(osg::Texture::MAG_FILTER, filterMode(sampler.magFilter, osg::Texture::LINEAR));
    }
    return made;
}

osg::ref_ptr<osg::Image> MaterialBuilder::image(int index)
{
    auto found = _images.find(index);
    if (found != _images.end())
        return found->second;
    osg::ref_ptr<osg::Image>& decoded = _images[index];
    if (index < 0 || std::size_t(index) >= _model.images.size())
    {
        _diagnostics.warn("image " + std::to_string(index) + " does not exist");
        return nullptr;
    }
    const tinygltf::Image& source = _model.images[std::size_t(index)];
    if (source.bufferView < 0)
    {
        auto fromUri = _uriImages.find(index);
        if (fromUri != _uriImages.end())
            decoded = fromUri->second;
        // A URI image that failed to load was already reported by the loader.
        return decoded;
    }
    // tinygltf hands over a buffer view's picture without checking the view against its buffer.
    if (std::size_t(source.bufferView) >= _model.bufferViews.size() ||
        std::size_t(_model.bufferViews[std::size_t(source.bufferView)].buffer) >= _model.buffers.size())
    {
        _diagnostics.warn("image " + std::to_string(index) + " names a buffer view that does not exist");
        return nullptr;
    }
    const tinygltf::BufferView& view = _model.bufferViews[std::size_t(source.bufferView)];
    const std::vector<unsigned char>& data = _model.buffers[std::size_t(view.buffer)].data;
    if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset)
    {
        _diagnostics.warn("image " + std::to_string(index) + " lies outside its buffer");
        return nullptr;
    }
    std::string error;
    decoded = decodeImage(data.data() + view.byteOffset, view.byteLength, source.mimeType, error);
    if (!decoded)
        _diagnostics.warn("image " + std::to_string(index) + ": " + error);
    return decoded;
}

} // namespace veltra::gltf
