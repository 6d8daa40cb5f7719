#include <SolvoEarthUtil/scene/StateSetEditing.h>

namespace SolvoEarthUtil {

osg::StateSet* stateSetForEditing(osg::Node& node)
{
    const osg::StateSet* current = node.getStateSet();
    osg::ref_ptr<osg::StateSet> copy =
        current ? new osg::StateSet(*current, osg::CopyOp::SHALLOW_COPY) : new osg::StateSet;
    node.setStateSet(copy.get());
    return copy.get();
}

} // namespace SolvoEarthUtil
