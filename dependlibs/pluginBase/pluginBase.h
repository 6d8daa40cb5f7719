#pragma once

#include <pluginBase/pluginBaseExport.h>

#include <osg/Group>
#include <osg/Object>
#include <osg/observer_ptr>
#include <osgViewer/Viewer>

#include <string>

namespace osgEarth {
class MapNode;
}

/// The base of scene plug-ins: objects that a plug-in library hands out (read by name through
/// osgDB) and that the application then initialises with its viewer, its scene root and, when a
/// globe is loaded, the map node. The references are weak: a plug-in never keeps the
/// application's scene alive.
class PLUGINBASE_EXPORT pluginBase : public osg::Object
{
public:
    pluginBase() = default;
    pluginBase(const pluginBase& other, const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);
    META_Object(pluginBase, pluginBase)

    /// Called once after creation. The base keeps `viewer` and `root`; subclasses that work on a
    /// globe keep the map node themselves (the earth plug-in creates its own and passes null).
    virtual void initPlugin(osgViewer::Viewer* viewer, osg::Group* root, osgEarth::MapNode* mapNode);

    /// A command for the plug-in by name with one text argument. The base knows none and logs
    /// that at INFO.
    virtual void executcommand(std::string command, std::string argument);

protected:
    ~pluginBase() override = default;

    osg::observer_ptr<osgViewer::Viewer> viewer;
    osg::observer_ptr<osg::Group> root;
    osg::observer_ptr<osgEarth::MapNode> mapNode;
};
