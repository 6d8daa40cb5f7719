#pragma once

#include <MarloPlugin_PluginEarth/MarloPlugin_PluginEarthExport.h>

#include <PluginEarth/SceneChange.h>

#include <osgEarth/MapNode>

#include <osg/Object>
#include <osg/observer_ptr>

#include <string>

/// The page's own feature layers on the globe: named model layers drawing GeoJSON features pushed as text, with a
/// style given as JSON symbology properties ({"fill":"#ff0000","stroke":"#ffff00",...}). Features can be removed one
/// by one by their numeric `id` member (features without one are numbered by their position in the text they came
/// in). Layers live in the map of the map node given with setMapNode(); this object keeps no list of its own and
/// holds the map node only weakly, so every call without a live map node is a documented no-op.
///
/// Threads: every public function runs on the browser's main thread while the rendering thread draws the map node.
/// Parsing styles and feature texts and compiling geometry happen on the calling thread, outside the scene; only
/// the steps that change what is drawn go through the scene-change runner: adding and removing model layers and
/// switching their visibility, attaching compiled features to a layer's graph, and the search that detaches one
/// feature's nodes and primitive sets.
class PLUGINEARTH_EXPORT pluginFeatures : public osg::Object
{
public:
    pluginFeatures();
    /// Shares the map node's weak reference and the runner.
    pluginFeatures(const pluginFeatures& other, const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);

    /// A new object without a map node.
    osg::Object* cloneType() const override;
    /// A new object without a map node, whatever `copyop` says.
    osg::Object* clone(const osg::CopyOp& copyop) const override;
    bool isSameKindAs(const osg::Object* object) const override;
    /// "plugin".
    const char* libraryName() const override;
    /// "pluginFeatures".
    const char* className() const override;

    /// The map node whose map holds the layers; null forgets it. Kept weakly: once the node dies the calls do nothing.
    void setMapNode(osgEarth::MapNode* mapNode);
    /// How scene changes are made (see SceneChange.h); an empty runner makes them at once.
    void setSceneChangeRunner(SceneChangeRunner runner);

    /// Replaces any layer called `name` (the first of that name) by a new, empty feature layer drawn with `style`, a
    /// JSON object of symbology properties; a style that is not such JSON is warned about and the layer drawn with
    /// the default style. True when the layer joined the map; false, with nothing changed, without a live map node.
    bool createlayer(std::string name, std::string style);
    /// Removes the model layer called `name` (the first of that name). True when a layer was removed; false when
    /// there was none or no live map node.
    bool removelayer(std::string name);
    /// Shows or hides the layer called `name`. True when the layer was found and set; false otherwise.
    bool showlayer(std::string name, bool visible);
    /// Hides the layer called `name` when there is one. Always true.
    bool hidelayer(std::string name);
    /// Compiles the GeoJSON `features` with the layer's style and attaches them to the layer called `name`. True
    /// when they were attached; false without a live map node, without the layer, when the layer has no feature
    /// graph (a layer not made by createlayer, or one whose node was built empty), when the text cannot be read
    /// (malformed, over the reader's size limit; the graph warns), or when the layer left the map meanwhile.
    bool addfeatures(std::string name, std::string features);
    /// Removes every node and primitive set of the feature whose id is the number `featureId` starts with (0 when it
    /// starts with none) from the layer called `name`. True whenever the layer exists, whether or not anything
    /// was found; false without a live map node or without the layer.
    bool removefeature(std::string name, std::string featureId);

protected:
    ~pluginFeatures() override;

private:
    osg::observer_ptr<osgEarth::MapNode> mapNode;
    SceneChangeRunner _runner;
};
