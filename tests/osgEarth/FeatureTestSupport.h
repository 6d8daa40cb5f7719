#pragma once

#include <osgEarth/MapNode>
#include <osgEarth/ModelLayer>

#include <osg/Group>
#include <osgDB/ReadFile>

#include <filesystem>
#include <string>

namespace featuretest {

/// The optional folder of real geographic data (countries, buildings, roads, a DEM) beside the repository root.
/// Tests that read it skip when it is absent.
inline std::filesystem::path sampleGeoData()
{
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "shared" /
           "data" / "geo";
}

/// A model layer of an earth file read through osgDB, with the map node holding it and the group the map node built
/// for it. Members are null where the file, the layer or its group is missing.
struct EarthLayer
{
    osg::ref_ptr<osg::Node> loaded;
    osg::ref_ptr<osgEarth::MapNode> mapNode;
    osgEarth::ModelLayer* layer = nullptr;
    osg::Group* group = nullptr;

    /// Child 0 of the layer's group when it is a node of type T, as a feature graph is.
    template <typename T>
    T* child() const
    {
        return group && group->getNumChildren() ? dynamic_cast<T*>(group->getChild(0)) : nullptr;
    }
};

inline EarthLayer readEarthLayer(const std::string& earthFile, const std::string& layerName)
{
    EarthLayer result;
    result.loaded = osgDB::readRefNodeFile(earthFile);
    result.mapNode = osgEarth::MapNode::get(result.loaded.get());
    if (!result.mapNode)
        return result;
    result.layer = result.mapNode->getMap()->getModelLayerByName(layerName);
    osg::Node* node = result.layer ? result.mapNode->getModelLayerNode(result.layer) : nullptr;
    result.group = node ? node->asGroup() : nullptr;
    return result;
}

} // namespace featuretest
