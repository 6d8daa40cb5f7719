#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Geode>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>

#include <set>
#include <string>

namespace SolvoEarthUtil {

/// Highlights every geode whose name is in a set of names, and routes the paged parts that load
/// later through the "nodemark" pseudo-loader, which runs the visitor over each of them: the host
/// puts the visitor in the paged nodes' read options under the plug-in data key "HighLightVistor"
/// and runs it over the loaded scene.
///
/// Threads: the host fills the name set before loads begin; the pseudo-loader runs the visitor on
/// the database pager's threads under a lock of its own.
class SOLVOEARTHKITS_EXPORT MarkNodeHighLightVistor : public osg::NodeVisitor
{
public:
    MarkNodeHighLightVistor();
    /// A copy has the same flag and names.
    MarkNodeHighLightVistor(const MarkNodeHighLightVistor& other,
                            const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);
    /// Takes the flag and the names of `other`.
    MarkNodeHighLightVistor& operator=(const MarkNodeHighLightVistor& other);

    META_Object(SolvoEarthUtil, MarkNodeHighLightVistor);

    /// Kept for hosts that name a highlight file; the file is not read.
    void setHighlightByFile(const std::string& fileName);
    /// Replaces the names to highlight by `names`.
    void addHighlightNodeNames(const std::set<std::string>& names);
    /// Adds one name to highlight.
    void addHighlightNodeName(const std::string& name);
    /// Logs "print element..." and then each name, in sorted order, at notice level.
    void printElement();

    using osg::NodeVisitor::apply;
    /// Gives each child file name the ".nodemark" suffix (once), then goes on into the loaded children.
    void apply(osg::PagedLOD& plod) override;
    /// Highlights the geode when its name is one of the names, then goes on below it.
    void apply(osg::Geode& geode) override;
    void apply(osg::Node& node) override;

    /// Set when a run highlighted at least one geode; whoever runs the visitor resets it.
    bool found;

private:
    std::set<std::string> _names;
};

} // namespace SolvoEarthUtil
