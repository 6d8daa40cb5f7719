#include "GltfSceneBuilder.h"

#include "GltfAccessors.h"
#include "GltfGeometry.h"
#include "GltfMaterials.h"

#include <osg/Geode>
#include <osg/ValueObject>

#include <algorithm>
#include <cmath>
#include <set>

namespace veltra::gltf {

namespace {

// Deeper hierarchies come only from broken or hostile files, and osg's traversals recurse too.
constexpr int kMaxNodeDepth = 256;

// Compression extensions replace the accessors' data; without their decoders the mesh is lost.
const std::set<std::string> kUnreadableExtensions = {"KHR_draco_mesh_compression", "EXT_meshopt_compression",
                                                     "KHR_meshopt_compression", "KHR_texture_basisu"};

bool allFinite(const std::vector<double>& values)
{
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

class SceneBuilder
{
public:
    SceneBuilder(const LoadedGltf& loaded, GltfDiagnostics& diagnostics)
        : _model(loaded.model), _diagnostics(diagnostics), _accessors(_model),
          _materials(_model, loaded.uriImages, diagnostics), _geometries(_model, _accessors, _materials, diagnostics),
          _nodes(_model.nodes.size()), _states(_model.nodes.size(), State::Unvisited)
    {}

    bool buildRoots(osg::Group& parent, std::string& error)
    {
        for (int root : rootNodes())
        {
            osg::ref_ptr<osg::Node> node = buildNode(root, 0, error);
            if (!node)
                return false;
            parent.addChild(node.get());
        }
        // Without a scene, nodes that only ever appear as children of each other form a cycle
        // that no root reaches.
        if (chosenScene() < 0 && std::find(_states.begin(), _states.end(), State::Unvisited) != _states.end())
        {
            error = "the node graph has a cycle that no root node reaches";
            return false;
        }
        return true;
    }

    std::string sceneName() const
    {
        const int scene = chosenScene();
        return scene < 0 ? std::string() : _model.scenes[std::size_t(scene)].name;
    }

private:
    enum class State
    {
        Unvisited,
        OnPath,
        Built
    };

    int chosenScene() const
    {
        if (_model.defaultScene >= 0 && std::size_t(_model.defaultScene) < _model.scenes.size())
            return _model.defaultScene;
        return _model.scenes.empty() ? -1 : 0;
    }

    // The default scene's roots; without scenes, every node that is nobody's child.
    std::vector<int> rootNodes() const
    {
        const int scene = chosenScene();
        if (scene >= 0)
            return _model.scenes[std::size_t(scene)].nodes;
        std::vector<bool> isChild(_model.nodes.size(), false);
        for (const tinygltf::Node& node : _model.nodes)
            for (int child : node.children)
                if (child >= 0 && std::size_t(child) < isChild.size())
                    isChild[std::size_t(child)] = true;
        std::vector<int> roots;
        for (std::size_t i = 0; i < isChild.size(); ++i)
            if (!isChild[i])
                roots.push_back(int(i));
        return roots;
    }

    osg::Matrixd localMatrix(const tinygltf::Node& node, int index)
    {
        // glTF's matrices are column-major with the translation last, which is osg's row-vector layout.
        if (node.matrix.size() == 16)
        {
            if (allFinite(node.matrix))
                return osg::Matrixd(node.matrix.data());
            _diagnostics.warn("node " + std::to_string(index) + " has a non-finite matrix; identity used");
            return osg::Matrixd();
        }
        osg::Matrixd matrix;
        if (node.scale.size() == 3 && allFinite(node.scale))
            matrix.postMultScale(osg::Vec3d(node.scale[0], node.scale[1], node.scale[2]));
        if (node.rotation.size() == 4 && allFinite(node.rotation))
            matrix.postMultRotate(osg::Quat(node.rotation[0], node.rotation[1], node.rotation[2], node.rotation[3]));
        if (node.translation.size() == 3 && allFinite(node.translation))
            matrix.postMultTranslate(osg::Vec3d(node.translation[0], node.translation[1], node.translation[2]));
        return matrix;
    }

    osg::ref_ptr<osg::Node> buildNode(int index, int depth, std::string& error)
    {
        if (index < 0 || std::size_t(index) >= _model.nodes.size())
        {
            error = "node " + std::to_string(index) + " does not exist";
            return nullptr;
        }
        const auto slot = std::size_t(index);
        if (_states[slot] == State::OnPath)
        {
            error = "the node graph has a cycle through node " + std::to_string(index);
            return nullptr;
        }
        if (_states[slot] == State::Built)
        {
            _diagnostics.warn("node " + std::to_string(index) + " has several parents; they share it");
            return _nodes[slot];
        }
        if (depth >= kMaxNodeDepth)
        {
            error = "the node hierarchy is deeper than " + std::to_string(kMaxNodeDepth) + " levels";
            return nullptr;
        }
        _states[slot] = State::OnPath;
        const tinygltf::Node& source = _model.nodes[slot];
        osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform(localMatrix(source, index));
        transform->setName(source.name);
        if (source.mesh >= 0)
        {
            std::vector<osg::ref_ptr<osg::Geometry>> geometries;
            if (!_geometries.meshGeometries(source.mesh, geometries, error))
                return nullptr;
            osg::ref_ptr<osg::Geode> geode = new osg::Geode;
            geode->setName(!source.name.empty() ? source.name : _model.meshes[std::size_t(source.mesh)].name);
            for (const auto& geometry : geometries)
                geode->addDrawable(geometry.get());
            transform->addChild(geode.get());
        }
        for (int child : source.children)
        {
            osg::ref_ptr<osg::Node> node = buildNode(child, depth + 1, error);
            if (!node)
                return nullptr;
            transform->addChild(node.get());
        }
        _states[slot] = State::Built;
        _nodes[slot] = transform;
        return transform;
    }

    const tinygltf::Model& _model;
    GltfDiagnostics& _diagnostics;
    AccessorReader _accessors;
    MaterialBuilder _materials;
    GeometryBuilder _geometries;
    std::vector<osg::ref_ptr<osg::Node>> _nodes;
    std::vector<State> _states;
};

} // namespace

osg::ref_ptr<osg::MatrixTransform> buildScene(const LoadedGltf& loaded, const std::string& fallbackName,
                                              GltfDiagnostics& diagnostics, std::string& error)
{
    const tinygltf::Model& model = loaded.model;
    for (const std::string& extension : model.extensionsRequired)
    {
        if (kUnreadableExtensions.count(extension))
        {
            error = "the model requires " + extension + ", which this reader does not decode";
            return nullptr;
        }
        diagnostics.warn("required extension " + extension + " is ignored");
    }
    if (!model.animations.empty() || !model.skins.empty() || !model.cameras.empty())
        OSG_INFO << "[glTF] " << diagnostics.source() << ": animations, skins and cameras are ignored" << std::endl;

    SceneBuilder builder(loaded, diagnostics);
    osg::ref_ptr<osg::MatrixTransform> top = new osg::MatrixTransform;
    if (!builder.buildRoots(*top, error))
        return nullptr;
    const std::string sceneName = builder.sceneName();
    top->setName(sceneName.empty() ? fallbackName : sceneName);
    // glTF is +Y up, the viewer +Z up: a quarter turn about +X takes +Y to +Z, metres unchanged.
    top->setMatrix(osg::Matrixd::rotate(osg::PI_2, osg::X_AXIS));
    top->setUserValue(kWarningCountValue, diagnostics.warningCount());
    return top;
}

} // namespace veltra::gltf
