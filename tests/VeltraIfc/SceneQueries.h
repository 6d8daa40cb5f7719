#pragma once

#include <SolvoEarthUtil/loading/BundledReaders.h>

#include <osg/Geode>
#include <osg/NodeVisitor>
#include <osgDB/Registry>

#include <map>
#include <string>
#include <vector>

namespace veltra::test {

/// Reads a model file through osgDB with Veltra's bundled readers, as the viewer does.
inline osgDB::ReaderWriter::ReadResult readModelFile(const std::string& path)
{
    SolvoEarthUtil::useBundledReaders();
    return osgDB::Registry::instance()->readNode(path, nullptr);
}

/// The user value `key` of a node as text, "" when absent.
inline std::string userText(const osg::Node& node, const std::string& key)
{
    std::string value;
    node.getUserValue(key, value);
    return value;
}

/// Every geode below a node by name, and every group by its "ifcClass" user value.
class SceneIndex : public osg::NodeVisitor
{
public:
    explicit SceneIndex(osg::Node& root) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) { root.accept(*this); }

    void apply(osg::Geode& geode) override
    {
        geodes[geode.getName()] = &geode;
        ++geodeCount;
    }

    void apply(osg::Group& group) override
    {
        groupsOfClass[userText(group, "ifcClass")].push_back(&group);
        traverse(group);
    }

    std::map<std::string, osg::Geode*> geodes;
    size_t geodeCount = 0;
    std::map<std::string, std::vector<osg::Group*>> groupsOfClass;
};

} // namespace veltra::test
