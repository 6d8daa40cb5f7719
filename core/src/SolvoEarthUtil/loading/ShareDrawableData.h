#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Array>
#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osg/PrimitiveSet>
#include <osg/StateSet>

#include <map>
#include <unordered_map>

namespace SolvoEarthUtil {

/// Makes the parts of a loaded model that look the same draw with the same objects: equal state
/// sets of drawables, and equal arrays and primitive sets of plain geometries, become one shared
/// object. Nodes keep everything of their own (names, masks, callbacks, their own state sets), since
/// tint, highlight and visibility are set per part on them. Dynamic objects, and state sets with
/// callbacks, are left alone.
///
/// Threads: runs on the loading thread, over a model no other thread sees yet.
class SOLVOEARTHUTIL_EXPORT ShareDrawableData : public osg::NodeVisitor
{
public:
    /// At most this many drawables share one state set: each keeps a list of its users, and
    /// taking a user out of a long list costs time proportional to its length.
    static constexpr unsigned kMaxStateSetUsers = 1024;

    ShareDrawableData();

    using osg::NodeVisitor::apply;
    void apply(osg::Drawable& drawable) override;
    void apply(osg::Geometry& geometry) override;

    struct Counts
    {
        unsigned stateSets = 0;     // drawables that now use another's equal state set
        unsigned arrays = 0;        // arrays replaced by an equal one
        unsigned primitiveSets = 0; // primitive sets replaced by an equal one
    };
    Counts shared;

private:
    struct StateSetOrder
    {
        bool operator()(const osg::StateSet* lhs, const osg::StateSet* rhs) const
        {
            return lhs->compare(*rhs, true) < 0;
        }
    };
    struct SharedStateSet
    {
        osg::ref_ptr<osg::StateSet> stateSet;
        unsigned users = 0;
    };

    void shareStateSet(osg::Drawable& drawable);
    osg::Array* sharedArray(osg::Array* array);
    osg::PrimitiveSet* sharedPrimitiveSet(osg::PrimitiveSet* primitiveSet);

    std::map<const osg::StateSet*, SharedStateSet, StateSetOrder> _stateSets;
    std::unordered_multimap<size_t, osg::ref_ptr<osg::Array>> _arrays;               // by content hash
    std::unordered_multimap<size_t, osg::ref_ptr<osg::PrimitiveSet>> _primitiveSets; // likewise
};

/// Runs ShareDrawableData over `model` and returns what it shared.
SOLVOEARTHUTIL_EXPORT ShareDrawableData::Counts shareDrawableData(osg::Node& model);

} // namespace SolvoEarthUtil
