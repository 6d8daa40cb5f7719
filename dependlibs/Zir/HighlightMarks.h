#pragma once

#include <SolvoEarthKits/selection/MarkNodeHighLightVistor.h>

#include <osg/Node>
#include <osg/ref_ptr>

#include <set>
#include <string>

namespace zir {

/// The part names to highlight, applied to the models loaded now and, through the "nodemark"
/// pseudo-loader, to the paged parts that load later.
///
/// Threads: called with the scene lock held. Each change of names makes a new visitor: the paged
/// nodes' read options keep the visitor they were given (as user data, so it lives as long as
/// they do), and the pager threads may still be running an older one.
class HighlightMarks
{
public:
    /// Replaces the names; an empty set forgets them (later loads are not marked).
    void setNames(const std::set<std::string>& names);
    bool empty() const { return !_visitor.valid(); }

    /// Highlights the named parts under `model` and routes its paged parts through the
    /// pseudo-loader with the current visitor. Nothing without names.
    void mark(osg::Node* model) const;

    /// Splits "a, b,c" into its non-empty, trimmed names.
    static std::set<std::string> parseNames(const std::string& list);

private:
    osg::ref_ptr<SolvoEarthUtil::MarkNodeHighLightVistor> _visitor;
};

} // namespace zir
