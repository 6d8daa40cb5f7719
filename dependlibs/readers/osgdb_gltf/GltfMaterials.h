#pragma once

#include "GltfDiagnostics.h"

#include <osg/Image>
#include <osg/StateSet>
#include <osg/Texture2D>
#include <osg/Vec4>
#include <osg/ref_ptr>

#include <tiny_gltf.h>

#include <map>
#include <utility>

namespace veltra::gltf {

/// Turns glTF materials into fixed-function state: the base colour factor as material colour,
/// the base colour texture on unit 0, alpha modes as blending or alpha test, and face culling
/// from doubleSided. Each material's state is made once and shared by its geometries. A broken
/// material or texture reference is a warning and falls back to the default material.
class MaterialBuilder
{
public:
    MaterialBuilder(const tinygltf::Model& model, const std::map<int, osg::ref_ptr<osg::Image>>& uriImages,
                    GltfDiagnostics& diagnostics);

    /// The state of material `index` (-1: glTF's default material). With `vertexColors` the
    /// geometry's colours (already multiplied by the base colour) drive the material colour.
    osg::ref_ptr<osg::StateSet> stateSet(int index, bool vertexColors);
    /// The base colour factor of material `index`, white for the default material.
    osg::Vec4 baseColor(int index) const;
    /// The texture coordinate set the base colour texture reads, -1 when the material has none.
    int baseColorTexCoord(int index) const;

private:
    const tinygltf::Material* material(int index) const;
    osg::ref_ptr<osg::StateSet> build(int index, bool vertexColors);
    osg::ref_ptr<osg::Texture2D> texture(int index);
    osg::ref_ptr<osg::Image> image(int index);

    const tinygltf::Model& _model;
    const std::map<int, osg::ref_ptr<osg::Image>>& _uriImages;
    GltfDiagnostics& _diagnostics;
    std::map<std::pair<int, bool>, osg::ref_ptr<osg::StateSet>> _stateSets;
    std::map<int, osg::ref_ptr<osg::Texture2D>> _textures;
    std::map<int, osg::ref_ptr<osg::Image>> _images;
};

} // namespace veltra::gltf
