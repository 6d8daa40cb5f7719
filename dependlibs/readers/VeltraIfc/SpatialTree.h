#pragma once

#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/ref_ptr>

#include <map>
#include <string>

class IfcElement;
class IfcObjectDefinition;

namespace veltra::ifc {

class IfcDocument;

/// The spatial structure of a model as groups: the project on top (a MatrixTransform), then
/// sites, buildings and storeys as they aggregate one another. Spaces get no group of their own:
/// what they contain goes to the storey holding them.
class SpatialTree
{
public:
    /// `modelName` names the top node when the project has no name.
    SpatialTree(const IfcDocument& document, const std::string& modelName);

    osg::MatrixTransform* top() const { return _top.get(); }

    /// The group an element belongs under: its spatial container, or that of the element it is
    /// a part of (a flight of its stair, a panel of its curtain wall); the top when it has none.
    osg::Group* containerOf(const IfcElement& element) const;

private:
    void addParts(const IfcObjectDefinition& whole, osg::Group* group, int depth);
    osg::Group* containerOf(const IfcElement& element, int depth) const;

    osg::ref_ptr<osg::MatrixTransform> _top;
    std::map<int, osg::Group*> _groupOfSpatialElement; // step id -> group, owned by _top's subgraph
};

/// Sets the user values "ifcClass", "name" and "globalId" every node of an IFC model carries.
void describeNode(osg::Node& node, const std::string& ifcClass, const std::string& name, const std::string& globalId);

} // namespace veltra::ifc
