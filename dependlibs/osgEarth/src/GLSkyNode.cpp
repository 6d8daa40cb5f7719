#include "GLSkyNode.h"

namespace osgEarth {
namespace Util {

GLSkyNode::GLSkyNode(const SkyOptions& options, MapNode* mapNode) : SkyNode("gl", options, mapNode, 0.1f)
{
    applyInitialDateTime();
}

GLSkyNode::~GLSkyNode() = default;

} // namespace Util
} // namespace osgEarth
