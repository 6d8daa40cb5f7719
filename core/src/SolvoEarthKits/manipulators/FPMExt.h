#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>
#include <SolvoEarthKits/manipulators/FPM.h>

#include <osg/observer_ptr>

namespace osgEarth {
class MapNode;
}

/// A first-person ("walk") camera manipulator for the globe: moves and is driven exactly like FPM, but
/// turns relative to the east-north-up frame of the map's ellipsoid under the eye, so that looking
/// around stays level anywhere on the globe.
///
/// The map node is only observed: once it is destroyed (or when none was given) the manipulator
/// turns exactly as FPM does.
///
/// Threads: handle() runs in the viewer's event traversal on the rendering thread.
///
/// Choice made here: a projected (flat) map also turns as FPM does, since its world has no ellipsoid
/// under the eye and its up is the world's own.
class SOLVOEARTHKITS_EXPORT FPMExt : public FPM
{
public:
    /// `mapNode` may be null; the manipulator does not keep it alive.
    explicit FPMExt(osgEarth::MapNode* mapNode = nullptr);
    /// Copies everything FPM copies and observes the same map node.
    FPMExt(const FPMExt& other, const osg::CopyOp& copyOp = osg::CopyOp::SHALLOW_COPY);

    META_Object(SolvoEarthKits, FPMExt);

    /// The observed map node, or null once it is gone.
    osgEarth::MapNode* getMapNode() const;

protected:
    ~FPMExt() override;

    /// The rotation of the local east-north-up frame at the eye while a geocentric map node lives,
    /// the identity otherwise.
    osg::Quat frameRotation() const override;

private:
    osg::observer_ptr<osgEarth::MapNode> _mapNode;
};
