#pragma once

#include "GltfDiagnostics.h"

#include <osg/Image>
#include <osg/ref_ptr>

#include <tiny_gltf.h>

#include <map>
#include <string>
#include <vector>

namespace veltra::gltf {

/// A parsed asset: tinygltf's model, plus the pictures referenced by URI (data URIs and external
/// files), already decoded. Pictures held in buffer views are decoded later, once their views are
/// checked against their buffers.
struct LoadedGltf
{
    tinygltf::Model model;
    std::map<int, osg::ref_ptr<osg::Image>> uriImages;
};

/// Parses glTF JSON text or a binary container (told by its magic). External buffers and images
/// are looked up, in order, in `searchFolders` only. Returns an empty string on success, else
/// the reason the asset cannot be read; warnings go to `diagnostics`.
std::string loadGltf(const std::string& bytes, const std::vector<std::string>& searchFolders,
                     GltfDiagnostics& diagnostics, LoadedGltf& out);

} // namespace veltra::gltf
