#pragma once

#include <MarloPlugin_PluginEarth/MarloPlugin_PluginEarthExport.h>
#include <PluginEarth/SceneChange.h>
#include <SolvoEarthKits/picking/PickScanInfoHandler.h>
#include <pluginBase/pluginBase.h>

#include <osgEarth/MapNode>
#include <osgEarth/SpatialReference>
#include <osgEarthUtil/EarthManipulator>

#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/NodeCallback>
#include <osg/Vec3d>
#include <osg/observer_ptr>
#include <osg/ref_ptr>

#include <string>

/// The earth plug-in: turns the viewer into a globe viewer. It loads earth files (with an earth manipulator, an
/// optional sky and a home viewpoint), places models at longitude/latitude/height, sets and reports viewpoints,
/// reports the camera position with the terrain tile level, and switches globe picking and a map event callback.
///
/// Threads: every operation is called on the browser's main thread while the rendering thread draws the scene.
/// Files are read, JSON parsed and nodes and transforms built on the calling thread; each step that touches what
/// the rendering thread uses (attaching to `earthGroup`, `modelGroup` or a map node, moving a map's children under
/// its sky, the manipulator, the camera, the view's event handlers and the pick handler's listeners) goes through
/// the scene-change runner, as do the reads of the live camera and tile tree (`getviewpoint`, `camerapostion`,
/// `getlevel`), which the rendering thread changes. Without a runner those steps run at once.
///
/// Odd orders are safe: before `initPlugin` or before any earth file the globe operations do nothing or answer
/// "" / -1; a failed load keeps the map shown before; the viewer, root and map node are weak references checked
/// before each use.
class PLUGINEARTH_EXPORT PluginEarth : public pluginBase
{
public:
    /// Empty groups, a default earth manipulator and a pick handler; writes its construction line to standard output.
    PluginEarth();
    /// Shares the groups, manipulator, pick handler, event callback and runner with `other`.
    PluginEarth(const PluginEarth& other, const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);
    META_Object(plugin, PluginEarth)

    /// Keeps the viewer and root (weakly), appends `earthGroup` to the root and inserts `modelGroup` as its first
    /// child. The map node argument is ignored. A null root is refused with a warning; a second call moves both
    /// groups from the earlier root to the new one.
    void initPlugin(osgViewer::Viewer* viewer, osg::Group* root, osgEarth::MapNode* mapNode) override;

    /// How scene changes reach the drawn scene (see SceneChange.h); an empty runner makes them at once.
    void setSceneChangeRunner(SceneChangeRunner runner);

    /// Loads an earth file: its map node joins `earthGroup` (earlier ones stay), the manipulator is installed and
    /// pointed at it, an `<external><sky>` element gets a sky, and the home viewpoint is set. A file without a map
    /// node changes nothing (with a warning).
    void loadearthfile(std::string& path);

    /// Loads and places the model a JSON description names ("url", "position" or else "location", "orientation";
    /// see the source for the rules). Logs each step at NOTICE.
    void loadModelToEarth(std::string description);
    /// Places an already loaded node under `modelGroup`; nothing without a node or a live map node.
    void loadModelToEarth(osg::Node* node, osg::Vec3d& position, osg::Vec3d& orientation);
    /// Same as loadModelToEarth(node, position, orientation).
    void loadModelToEarth2(osg::Node* node, osg::Vec3d& position, osg::Vec3d& orientation);
    /// Reads `path` and places it; nothing without a live map node, nothing placed when the read fails.
    void loadModelToEarth2(std::string& path, osg::Vec3d& position, osg::Vec3d& orientation);

    /// The placement of a model: the east-north-up frame at `position` (longitude, latitude in degrees, height in
    /// metres on a globe) turned in that frame by `orientation` = (a about up, b about east, c about north), degrees.
    /// The caller takes the new, unreferenced transform; null without a map node or for a point the map cannot
    /// place.
    osg::MatrixTransform* createMatrixTransform(osgEarth::MapNode* mapNode, osg::Vec3d& position,
                                                osg::Vec3d& orientation);

    /// Flies to a viewpoint given in the JSON form of a viewpoint configuration, over its optional "time" in
    /// seconds; an invalid viewpoint (or malformed JSON) changes nothing.
    void setviewpoint(std::string json);
    /// Flies to a viewpoint in the map's coordinates: degrees, metres and seconds. Non-finite values are refused.
    void setviewpoint(double x, double y, double z, double heading, double pitch, double range, double duration);
    /// The current viewpoint as compact JSON without its "srs" member; "" while the manipulator knows no map.
    std::string getviewpoint();
    /// {"": {"lat", "level", "long"}} as pretty JSON texts (level -1 without a map); "" without a manipulator.
    std::string camerapostion();
    /// The terrain tile level for the current camera range, or -1 without a map node or a named tile.
    int getlevel();

    /// Limits the manipulator's pitch, degrees; non-finite values are refused.
    void setPitchRange(double minPitch, double maxPitch);
    /// Adds (or removes) the callback of addCallBack as the live map node's event callback. Switching on twice
    /// attaches it once; switching off takes it from the map it was put on.
    void enablePostinTomap2D(bool on);
    /// The map event callback used by enablePostinTomap2D; replaces the earlier one. No reference is taken.
    void addCallBack(osg::NodeCallback* callback);
    /// Adds the pick handler to the viewer's event handlers (or removes it); nothing before initPlugin.
    void QueryModelInfo(bool on);
    /// Adds a listener to the pick handler; the handler keeps a reference to it.
    void addScanInfoCallBack(MarloKits::PickScanInfoHandler::pickCallBack* callback);

    /// Sets up the viewer's camera for a globe and puts the manipulator into the view's key-switch manipulator
    /// under key '3' ("Earth"), selects it and drops key '2'. loadearthfile calls it.
    void addEarthManipulator();
    osgEarth::Util::EarthManipulator* getEarthManipulator();
    /// The map node of the last successful load while it lives, else null.
    osgEarth::MapNode* getMapNode();
    /// The map's spatial reference while a map node lives, else null.
    const osgEarth::SpatialReference* getSRS();

    /// The pick handler (for hosts and tests).
    MarloKits::PickScanInfoHandler* getScanHandler() { return scanHandler.get(); }
    /// The groups hooked into the root: loaded map nodes, and the transforms of placed models.
    osg::Group* getEarthGroup() { return earthGroup.get(); }
    osg::Group* getModelGroup() { return modelGroup.get(); }

protected:
    /// Writes its destruction line to standard output, then lets go of the handler, manipulator and groups.
    ~PluginEarth() override;

    osg::ref_ptr<osg::Group> earthGroup;
    osg::ref_ptr<osg::Group> modelGroup;
    osg::ref_ptr<osgEarth::Util::EarthManipulator> manipulator;
    osg::ref_ptr<MarloKits::PickScanInfoHandler> scanHandler;
    /// Not owned: a weak reference, so a callback its owner dropped is never used.
    osg::observer_ptr<osg::NodeCallback> eventCallback;

private:
    void installManipulator();
    void placeNode(osg::Node* node, osg::Vec3d& position, osg::Vec3d& orientation);
    int levelNow();
    void detachEventCallback();

    SceneChangeRunner _runner;
    // Where enablePostinTomap2D put which callback, so switching off finds it after a new map or callback.
    osg::observer_ptr<osg::Node> _callbackHost;
    osg::observer_ptr<osg::NodeCallback> _attachedCallback;
};
