#include <PluginEarth/findFeatureModelVistor.h>

#include <osgEarthFeatures/Feature>

#include <osg/Geometry>

#include <iostream>

findFeatureModelVistor::findFeatureModelVistor() : findFeatureModelVistor(0)
{}

findFeatureModelVistor::findFeatureModelVistor(long id) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), featureId(id)
{}

bool findFeatureModelVistor::carriesId(const osg::Referenced* userData) const
{
    const auto* tag = dynamic_cast<const osgEarth::Features::RefFeatureID*>(userData);
    // Ids are unsigned in the index; a negative id from the page matches no feature rather than a wrapped one.
    return tag && featureId >= 0 && osgEarth::Features::FeatureID(*tag) == osgEarth::Features::FeatureID(featureId);
}

void findFeatureModelVistor::apply(osg::Node& node)
{
    if (carriesId(node.getUserData()))
    {
        std::cout << "找到矢量信息 fid " << featureId << std::endl;
        foundNodes.push_back(&node);
    }
    traverse(node);
}

void findFeatureModelVistor::apply(osg::Geode& geode)
{
    for (unsigned i = 0; i < geode.getNumDrawables(); ++i)
    {
        osg::Geometry* geometry = geode.getDrawable(i) ? geode.getDrawable(i)->asGeometry() : nullptr;
        if (!geometry)
            continue;
        osg::Geometry::PrimitiveSetList& sets = geometry->getPrimitiveSetList();
        // One pass that keeps the others in order: erasing one by one would be quadratic in a merged geometry
        // holding thousands of features.
        auto kept = sets.begin();
        for (auto it = sets.begin(); it != sets.end(); ++it)
        {
            if (it->valid() && carriesId((*it)->getUserData()))
            {
                std::cout << "找到fid " << featureId << std::endl;
                continue;
            }
            if (kept != it)
                *kept = *it;
            ++kept;
        }
        if (kept != sets.end())
        {
            sets.erase(kept, sets.end());
            geometry->dirtyGLObjects();
            geometry->dirtyBound();
        }
    }
}
