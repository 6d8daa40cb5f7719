#include <SolvoEarthKits/progress/NC.h>

namespace SolvoEarthUtil {

NC::NC(osg::Node* rootNode) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), root(rootNode)
{}

void NC::apply(osg::Geode& geode)
{
    geodes.insert(&geode);
}

} // namespace SolvoEarthUtil
