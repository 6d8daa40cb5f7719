#pragma once

#include <osgEarthUtil/Sky>

namespace osgEarth {
namespace Util {

/// The "gl" sky: the sun light and the lighting state of the subgraph, nothing drawn. Works on geocentric maps
/// (light in earth-fixed axes) and projected ones (light in the local east-north-up axes of the map's centre).
class GLSkyNode : public SkyNode
{
public:
    GLSkyNode(const SkyOptions& options, MapNode* mapNode);

protected:
    ~GLSkyNode() override;
};

} // namespace Util
} // namespace osgEarth
