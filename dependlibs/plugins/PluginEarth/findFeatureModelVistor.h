#pragma once

#include <MarloPlugin_PluginEarth/MarloPlugin_PluginEarthExport.h>

#include <osg/Geode>
#include <osg/NodeVisitor>
#include <osg/ref_ptr>

#include <vector>

/// Finds what draws one feature of a feature layer by the RefFeatureID user data the feature compiler tags it with.
/// Nodes tagged with the id are collected in `foundNodes` for the caller to detach; primitive sets tagged with it are
/// taken out of their geometries on the spot, since a feature merged into shared geometry owns only its sets.
/// Every hit writes a line to standard output ("找到矢量信息 fid <id>" for a node, "找到fid <id>" for a set).
///
/// Threads: it changes primitive-set lists that the rendering thread reads, so it runs inside the scene change
/// (see pluginFeatures).
class PLUGINEARTH_EXPORT findFeatureModelVistor : public osg::NodeVisitor
{
public:
    /// A visitor looking for feature 0; set `featureId` before running it.
    findFeatureModelVistor();
    /// A visitor looking for `id`.
    explicit findFeatureModelVistor(long id);

    using osg::NodeVisitor::apply;
    /// Collects the node when it carries the id, then goes on into its children.
    void apply(osg::Node& node) override;
    /// Takes the tagged primitive sets out of the geode's geometries; does not go below the geode.
    void apply(osg::Geode& geode) override;

    /// The feature looked for.
    long featureId;
    /// The tagged nodes met, in traversal order; the visitor leaves them in place.
    std::vector<osg::ref_ptr<osg::Node>> foundNodes;

private:
    bool carriesId(const osg::Referenced* userData) const;
};
