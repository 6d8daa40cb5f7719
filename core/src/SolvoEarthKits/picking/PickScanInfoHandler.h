#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osgEarth/SpatialReference>

#include <osg/Node>
#include <osg/Referenced>
#include <osg/Vec3d>
#include <osg/ref_ptr>
#include <osgGA/GUIEventHandler>
#include <osgViewer/View>

#include <vector>

namespace MarloKits {

/// Picks on a globe: a press of any mouse button finds the nearest hit under the pointer, converts its world point
/// into the map's spatial reference (longitude, latitude, height on a geographic map) and tells every listener the
/// hit node and that position.
///
/// Threads: `handle` and `pick` run in the viewer's event traversal on the rendering thread. `setSRS` and
/// `addCallBack` change what `pick` reads without a lock, so the host calls them on the thread that runs the frames
/// or while no frame runs (the earth plug-in does so through its scene-change runner).
class SOLVOEARTHKITS_EXPORT PickScanInfoHandler : public osgGA::GUIEventHandler
{
public:
    /// A listener for picked positions; hosts derive from it.
    class SOLVOEARTHKITS_EXPORT pickCallBack : public osg::Referenced
    {
    public:
        /// `node` is the hit node (null when the hit has no node path); `position` the hit point in the map's
        /// spatial reference. The base does nothing.
        virtual void onPick(osg::Node* node, const osg::Vec3d& position);

    protected:
        ~pickCallBack() override = default;
    };

    /// No listeners, no map reference (picks are then only logged).
    PickScanInfoHandler();

    /// The spatial reference positions are reported in; null switches the reports off. Replaces any earlier one.
    void setSRS(const osgEarth::SpatialReference* srs);
    const osgEarth::SpatialReference* getSRS() const { return _srs.get(); }

    /// Appends a listener and keeps a reference to it until the handler is destroyed; null is ignored. There is no
    /// removal: a listener added twice hears every pick twice.
    void addCallBack(pickCallBack* cb);
    std::size_t getNumCallBacks() const { return _callBacks.size(); }

    using osgGA::GUIEventHandler::handle;
    /// Picks on a press of any mouse button in an osgViewer::View; never consumes the event.
    bool handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) override;

    /// Picks under the event's pointer (see the class comment); nothing under the pointer tells nobody.
    virtual void pick(osgViewer::View* view, const osgGA::GUIEventAdapter& ea);

protected:
    ~PickScanInfoHandler() override;

private:
    std::vector<osg::ref_ptr<pickCallBack>> _callBacks;
    // Spatial references live in a process-wide cache; the reference only makes that independent of the cache.
    osg::ref_ptr<const osgEarth::SpatialReference> _srs;
};

} // namespace MarloKits
