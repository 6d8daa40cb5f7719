#include <osgEarthFeatures/FeatureSourceIndexNode>

#include <osg/NodeVisitor>

#include <algorithm>

namespace osgEarth::Features {

namespace {

const RefFeatureID* tagOf(const osg::Referenced* userData)
{
    return dynamic_cast<const RefFeatureID*>(userData);
}

// Collects every tag under the index node: primitive sets grouped by their geometry, and tagged nodes.
class TagCollector : public osg::NodeVisitor
{
public:
    TagCollector() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) { setNodeMaskOverride(~0u); }

    void apply(osg::Node& node) override
    {
        if (const RefFeatureID* tag = tagOf(node.getUserData()))
            drawSets[*tag].nodes.push_back(&node);
        traverse(node);
    }

    void apply(osg::Drawable& drawable) override
    {
        if (const RefFeatureID* tag = tagOf(drawable.getUserData()))
            drawSets[*tag].nodes.push_back(&drawable);
        osg::Geometry* geometry = drawable.asGeometry();
        if (!geometry)
            return;
        for (unsigned i = 0; i < geometry->getNumPrimitiveSets(); ++i)
        {
            osg::PrimitiveSet* set = geometry->getPrimitiveSet(i);
            const RefFeatureID* tag = set ? tagOf(set->getUserData()) : nullptr;
            if (!tag)
                continue;
            std::vector<FeatureDrawSlice>& slices = drawSets[*tag].slices;
            if (slices.empty() || slices.back().geometry != geometry)
                slices.push_back(FeatureDrawSlice{geometry, {}});
            slices.back().primitiveSets.push_back(set);
        }
    }

    std::map<FeatureID, FeatureDrawSet> drawSets;
};

} // namespace

FeatureSourceIndexOptions::FeatureSourceIndexOptions(const Config& conf) : ConfigOptions(conf)
{
    _conf.key() = "feature_indexing";
    fromConfig(_conf);
}

void FeatureSourceIndexOptions::fromConfig(const Config& conf)
{
    conf.getIfSet("enabled", _enabled);
    conf.getIfSet("embed_features", _embedFeatures);
}

Config FeatureSourceIndexOptions::getConfig() const
{
    Config conf = ConfigOptions::getConfig();
    conf.key() = "feature_indexing";
    conf.setIfSet("enabled", _enabled);
    conf.setIfSet("embed_features", _embedFeatures);
    return conf;
}

void FeatureSourceIndexOptions::mergeConfig(const Config& conf)
{
    ConfigOptions::mergeConfig(conf);
    fromConfig(conf);
}

FeatureSourceIndexNode::FeatureSourceIndexNode(const FeatureSourceIndexOptions& options) : _options(options)
{}

void FeatureSourceIndexNode::embedFeatures(const FeatureList& features)
{
    if (!_options.embedFeatures().get())
        return;
    for (const auto& feature : features)
        if (feature.valid())
            _features[feature->getFID()] = feature;
}

void FeatureSourceIndexNode::reindex()
{
    TagCollector collector;
    for (unsigned i = 0; i < getNumChildren(); ++i)
        getChild(i)->accept(collector);
    _drawSets = std::move(collector.drawSets);
}

bool FeatureSourceIndexNode::getFID(const osg::PrimitiveSet* primitiveSet, FeatureID& fid) const
{
    const RefFeatureID* tag = primitiveSet ? tagOf(primitiveSet->getUserData()) : nullptr;
    if (tag)
        fid = *tag;
    return tag != nullptr;
}

bool FeatureSourceIndexNode::getFID(const osg::Drawable* drawable, int primitiveIndex, FeatureID& fid) const
{
    if (!drawable)
        return false;
    if (const osg::Geometry* geometry = drawable->asGeometry(); geometry && primitiveIndex >= 0)
    {
        unsigned first = 0;
        for (unsigned i = 0; i < geometry->getNumPrimitiveSets(); ++i)
        {
            const osg::PrimitiveSet* set = geometry->getPrimitiveSet(i);
            const unsigned count = set ? set->getNumPrimitives() : 0u;
            if (unsigned(primitiveIndex) < first + count)
            {
                if (getFID(set, fid))
                    return true;
                break;
            }
            first += count;
        }
    }
    // Untagged primitives may belong to a feature drawn as its own node further up.
    for (const osg::Node* node = drawable; node && node != this;
         node = node->getNumParents() > 0 ? node->getParent(0) : nullptr)
    {
        if (const RefFeatureID* tag = tagOf(node->getUserData()))
        {
            fid = *tag;
            return true;
        }
    }
    return false;
}

const FeatureDrawSet& FeatureSourceIndexNode::getDrawSet(FeatureID fid) const
{
    static const FeatureDrawSet none;
    auto found = _drawSets.find(fid);
    return found != _drawSets.end() ? found->second : none;
}

Feature* FeatureSourceIndexNode::getFeature(FeatureID fid) const
{
    auto found = _features.find(fid);
    return found != _features.end() ? found->second.get() : nullptr;
}

std::vector<FeatureID> FeatureSourceIndexNode::getFIDs() const
{
    std::vector<FeatureID> fids;
    for (const auto& entry : _drawSets)
        fids.push_back(entry.first);
    return fids;
}

bool FeatureSourceIndexNode::removeFeature(FeatureID fid)
{
    auto found = _drawSets.find(fid);
    if (found == _drawSets.end())
        return false;
    for (FeatureDrawSlice& slice : found->second.slices)
    {
        for (const auto& set : slice.primitiveSets)
        {
            const unsigned index = slice.geometry->getPrimitiveSetIndex(set.get());
            if (index < slice.geometry->getNumPrimitiveSets())
                slice.geometry->removePrimitiveSet(index, 1);
        }
        slice.geometry->dirtyGLObjects();
        slice.geometry->dirtyBound();
    }
    for (const auto& node : found->second.nodes)
    {
        // Copy the parent list first: removing the child edits it.
        const osg::Node::ParentList parents = node->getParents();
        for (osg::Group* parent : parents)
            parent->removeChild(node.get());
    }
    _drawSets.erase(found);
    _features.erase(fid);
    return true;
}

} // namespace osgEarth::Features
