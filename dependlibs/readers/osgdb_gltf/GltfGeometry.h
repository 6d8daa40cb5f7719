#pragma once

#include "GltfAccessors.h"
#include "GltfDiagnostics.h"
#include "GltfMaterials.h"

#include <osg/Geometry>
#include <osg/ref_ptr>

#include <tiny_gltf.h>

#include <map>
#include <string>
#include <vector>

namespace veltra::gltf {

/// Turns glTF meshes into osg::Geometry, one per primitive: positions, normals (flat ones
/// computed for triangles that come without), the base colour texture's coordinates, vertex
/// colours and indices, with the primitive's material state. A mesh is built once and its
/// geometries are shared by every node that uses it.
class GeometryBuilder
{
public:
    GeometryBuilder(const tinygltf::Model& model, AccessorReader& accessors, MaterialBuilder& materials,
                    GltfDiagnostics& diagnostics);

    /// The geometries of mesh `index`; false with `error` set when its data is broken.
    bool meshGeometries(int index, std::vector<osg::ref_ptr<osg::Geometry>>& out, std::string& error);

private:
    bool buildPrimitive(const tinygltf::Primitive& primitive, osg::ref_ptr<osg::Geometry>& out, std::string& error);

    const tinygltf::Model& _model;
    AccessorReader& _accessors;
    MaterialBuilder& _materials;
    GltfDiagnostics& _diagnostics;
    std::map<int, std::vector<osg::ref_ptr<osg::Geometry>>> _meshes;
};

} // namespace veltra::gltf
