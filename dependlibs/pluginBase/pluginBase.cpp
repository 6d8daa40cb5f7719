#include "pluginBase/pluginBase.h"

#include <osg/Notify>

pluginBase::pluginBase(const pluginBase& other, const osg::CopyOp& copyop)
    : osg::Object(other, copyop), viewer(other.viewer), root(other.root), mapNode(other.mapNode)
{}

void pluginBase::initPlugin(osgViewer::Viewer* targetViewer, osg::Group* targetRoot, osgEarth::MapNode*)
{
    viewer = targetViewer;
    root = targetRoot;
}

void pluginBase::executcommand(std::string command, std::string argument)
{
    OSG_INFO << className() << ": no command \"" << command << "\" (argument \"" << argument << "\")" << std::endl;
}
