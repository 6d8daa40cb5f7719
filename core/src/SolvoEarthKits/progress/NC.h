#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Geode>
#include <osg/NodeVisitor>

#include <set>

namespace SolvoEarthUtil {

/// Collects the geodes below a root, each once, without looking inside them.
class SOLVOEARTHKITS_EXPORT NC : public osg::NodeVisitor
{
public:
    explicit NC(osg::Node* root);

    void apply(osg::Geode& geode) override;

    osg::ref_ptr<osg::Node> root;
    std::set<osg::ref_ptr<osg::Geode>> geodes; // ordered by address
};

} // namespace SolvoEarthUtil
