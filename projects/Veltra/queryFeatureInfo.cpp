#include "queryFeatureInfo.h"

#include "Veltra.h"

#include <sstream>

namespace MarloKits {

std::string queryFeatureInfo::scriptFor(const osg::Vec3d& position)
{
    std::ostringstream script;
    script << "modelPsotion('" << position.x() << " " << position.y() << " " << position.z() << "')";
    return script.str();
}

void queryFeatureInfo::onPick(osg::Node*, const osg::Vec3d& position)
{
    if (std::shared_ptr<Veltra> owner = _owner.lock())
        owner->setPendingScript(scriptFor(position));
}

} // namespace MarloKits
