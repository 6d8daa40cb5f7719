#pragma once

#include <osgEarth/MapNode>
#include <osgEarthUtil/EarthManipulator>

#include <osg/NodeCallback>
#include <osg/observer_ptr>

#include <memory>
#include <mutex>
#include <string>

class Veltra;

/// Reports the camera to the page after the user has moved the globe: hung on the map node as its event callback
/// (by "enablepostinTomap2d"), it turns every frame that holds a mouse release, a double click or a wheel turn into
/// the script "changepostion(<longitude>,<latitude>,<tile level>)", left on the plug-in object to run at the next
/// mouse-up or scroll. Without a map node or a manipulator it reports nothing.
///
/// Threads: the call operator runs in the event traversal on the rendering thread, inside the frame, where it reads
/// the manipulator and the tile tree directly (the frame holds the scene already). setMap is called on the
/// browser's main thread; the map node and manipulator it sets have a lock of their own.
///
/// Ownership: the map node and manipulator are weak references, the plug-in object as well: once it is gone the
/// callback reports nothing.
class EngineNodeCallback : public osg::NodeCallback
{
public:
    explicit EngineNodeCallback(const std::weak_ptr<Veltra>& owner) : _owner(owner) {}

    /// Replaces the map node and manipulator the reports are read from; null for either silences the reports.
    void setMap(osgEarth::MapNode* mapNode, osgEarth::Util::EarthManipulator* manipulator);
    /// The map node set last while it lives, else null (for hosts and tests).
    osgEarth::MapNode* getMapNode() const;
    /// The manipulator set last while it lives, else null.
    osgEarth::Util::EarthManipulator* getManipulator() const;

    /// The page script for a camera over (`longitude`, `latitude`) at tile `level`; numbers in a standard stream's
    /// default form.
    static std::string scriptFor(double longitude, double latitude, int level);

    /// Reports when this frame's events hold a release, double click or scroll; always goes on with the traversal.
    void operator()(osg::Node* node, osg::NodeVisitor* nv) override;

protected:
    ~EngineNodeCallback() override = default;

private:
    std::weak_ptr<Veltra> _owner;
    mutable std::mutex _mapLock; // guards _mapNode and _manipulator
    osg::observer_ptr<osgEarth::MapNode> _mapNode;
    osg::observer_ptr<osgEarth::Util::EarthManipulator> _manipulator;
};
