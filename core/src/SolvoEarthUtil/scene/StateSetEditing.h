#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Node>
#include <osg/StateSet>

namespace SolvoEarthUtil {

/// The state set of `node`, ready to be edited while a frame may be drawing with it: a copy of the
/// node's state set (sharing its attributes) or a new empty one is put in the node's place first,
/// and returned. A frame that is drawing keeps the state set it was handed by the cull; the next
/// frame draws the edit. Other nodes that shared the old state set keep it unchanged.
SOLVOEARTHUTIL_EXPORT osg::StateSet* stateSetForEditing(osg::Node& node);

} // namespace SolvoEarthUtil
