#pragma once

#include <SolvoEarthKits/picking/PickScanInfoHandler.h>

#include <memory>
#include <string>

class Veltra;

namespace MarloKits {

/// Hands the points picked on the globe (while "querymodelinfo" is on) to the page: each position becomes the
/// script "modelPsotion('<x> <y> <z>')", left on the plug-in object to run at the next mouse-up or scroll.
///
/// Threads: onPick runs in the event traversal on the rendering thread; the plug-in object's pending script has a
/// lock of its own. The plug-in object is held weakly: once it is gone a pick reports nothing.
class queryFeatureInfo : public PickScanInfoHandler::pickCallBack
{
public:
    explicit queryFeatureInfo(const std::weak_ptr<Veltra>& owner) : _owner(owner) {}

    /// The page script for a picked position: longitude, latitude and height on a geographic map, each in a
    /// standard stream's default form (six significant digits).
    static std::string scriptFor(const osg::Vec3d& position);

    /// Uses only the position; the hit node does not matter to the page.
    void onPick(osg::Node* node, const osg::Vec3d& position) override;

protected:
    ~queryFeatureInfo() override = default;

private:
    std::weak_ptr<Veltra> _owner;
};

} // namespace MarloKits
