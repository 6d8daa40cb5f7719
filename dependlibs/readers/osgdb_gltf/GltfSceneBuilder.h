#pragma once

#include "GltfDiagnostics.h"
#include "GltfLoad.h"

#include <osg/MatrixTransform>
#include <osg/ref_ptr>

#include <string>

namespace veltra::gltf {

/// The name of the user value on the top transform that counts the read's warnings.
inline constexpr const char* kWarningCountValue = "gltfWarnings";

/// Builds the scene of a loaded asset: a top MatrixTransform named after the default scene (or
/// `fallbackName` when the scene has none) that turns glTF's +Y up into +Z up, and below it one
/// MatrixTransform per glTF node, with an osg::Geode for the node's mesh. Returns null with
/// `error` set when the asset's structure or data is broken.
osg::ref_ptr<osg::MatrixTransform> buildScene(const LoadedGltf& loaded, const std::string& fallbackName,
                                              GltfDiagnostics& diagnostics, std::string& error);

} // namespace veltra::gltf
