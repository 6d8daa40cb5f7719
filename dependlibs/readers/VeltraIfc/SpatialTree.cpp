#include <VeltraIfc/SpatialTree.h>

#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcText.h>

#include <ifcpp/IFC4/include/IfcElement.h>
#include <ifcpp/IFC4/include/IfcGloballyUniqueId.h>
#include <ifcpp/IFC4/include/IfcLabel.h>
#include <ifcpp/IFC4/include/IfcProject.h>
#include <ifcpp/IFC4/include/IfcRelAggregates.h>
#include <ifcpp/IFC4/include/IfcRelContainedInSpatialStructure.h>
#include <ifcpp/IFC4/include/IfcSpace.h>
#include <ifcpp/IFC4/include/IfcSpatialElement.h>
#include <ifcpp/model/BuildingModel.h>

namespace veltra::ifc {

namespace {

// Aggregation in a broken file may loop or run absurdly deep; real buildings nest a few levels.
constexpr int kMaxDepth = 64;

} // namespace

void describeNode(osg::Node& node, const std::string& ifcClass, const std::string& name, const std::string& globalId)
{
    node.setUserValue("ifcClass", ifcClass);
    node.setUserValue("name", name);
    node.setUserValue("globalId", globalId);
}

SpatialTree::SpatialTree(const IfcDocument& document, const std::string& modelName) : _top(new osg::MatrixTransform)
{
    const std::shared_ptr<IfcProject> project = document.model()->getIfcProject();
    const std::string projectName = document.projectName();
    _top->setName(projectName.empty() ? modelName : projectName);
    if (!project)
    {
        describeNode(*_top, "IfcProject", projectName, std::string());
        return;
    }
    describeNode(*_top, project->className(), projectName, textOf(project->m_GlobalId));
    addParts(*project, _top.get(), 0);
}

void SpatialTree::addParts(const IfcObjectDefinition& whole, osg::Group* group, int depth)
{
    if (depth > kMaxDepth)
        return;
    for (const auto& weakRelation : whole.m_IsDecomposedBy_inverse)
    {
        const auto relation = weakRelation.lock();
        if (!relation)
            continue;
        for (const std::shared_ptr<IfcObjectDefinition>& part : relation->m_RelatedObjects)
        {
            const auto spatial = std::dynamic_pointer_cast<IfcSpatialElement>(part);
            if (!spatial || _groupOfSpatialElement.count(spatial->m_entity_id))
                continue; // not a place, or already placed (a loop in a broken file)
            osg::Group* partGroup = group;
            if (!std::dynamic_pointer_cast<IfcSpace>(spatial))
            {
                osg::ref_ptr<osg::Group> child = new osg::Group;
                const std::string name = textOf(spatial->m_Name);
                child->setName(name);
                describeNode(*child, spatial->className(), name, textOf(spatial->m_GlobalId));
                group->addChild(child.get());
                partGroup = child.get();
            }
            _groupOfSpatialElement[spatial->m_entity_id] = partGroup;
            addParts(*spatial, partGroup, depth + 1);
        }
    }
}

osg::Group* SpatialTree::containerOf(const IfcElement& element) const
{
    return containerOf(element, 0);
}

osg::Group* SpatialTree::containerOf(const IfcElement& element, int depth) const
{
    for (const auto& weakRelation : element.m_ContainedInStructure_inverse)
    {
        const auto relation = weakRelation.lock();
        if (!relation || !relation->m_RelatingStructure)
            continue;
        const auto found = _groupOfSpatialElement.find(relation->m_RelatingStructure->m_entity_id);
        if (found != _groupOfSpatialElement.end())
            return found->second;
    }
    if (depth < kMaxDepth)
    {
        for (const auto& weakRelation : element.m_Decomposes_inverse)
        {
            const auto relation = weakRelation.lock();
            const auto whole = relation ? std::dynamic_pointer_cast<IfcElement>(relation->m_RelatingObject) : nullptr;
            if (whole)
                return containerOf(*whole, depth + 1);
        }
    }
    return _top.get();
}

} // namespace veltra::ifc
