#include "EngineNodeCallback.h"

#include "Veltra.h"

#include <PluginEarth/findTileNodeVistor.h>

#include <osgEarth/Viewpoint>

#include <osgGA/EventVisitor>
#include <osgGA/GUIEventAdapter>

#include <sstream>

namespace {

// The user has finished moving the camera (or moves it by steps): a release, a double click or a wheel turn.
bool endsAMove(const osgGA::EventQueue::Events& events)
{
    for (const osg::ref_ptr<osgGA::Event>& event : events)
    {
        const osgGA::GUIEventAdapter* adapter = event.valid() ? event->asGUIEventAdapter() : nullptr;
        if (!adapter)
            continue;
        switch (adapter->getEventType())
        {
        case osgGA::GUIEventAdapter::RELEASE:
        case osgGA::GUIEventAdapter::DOUBLECLICK:
        case osgGA::GUIEventAdapter::SCROLL: return true;
        default: break;
        }
    }
    return false;
}

} // namespace

void EngineNodeCallback::setMap(osgEarth::MapNode* mapNode, osgEarth::Util::EarthManipulator* manipulator)
{
    std::lock_guard<std::mutex> lock(_mapLock);
    _mapNode = mapNode;
    _manipulator = manipulator;
}

osgEarth::MapNode* EngineNodeCallback::getMapNode() const
{
    std::lock_guard<std::mutex> lock(_mapLock);
    osg::ref_ptr<osgEarth::MapNode> map;
    return _mapNode.lock(map) ? map.get() : nullptr;
}

osgEarth::Util::EarthManipulator* EngineNodeCallback::getManipulator() const
{
    std::lock_guard<std::mutex> lock(_mapLock);
    osg::ref_ptr<osgEarth::Util::EarthManipulator> manipulator;
    return _manipulator.lock(manipulator) ? manipulator.get() : nullptr;
}

std::string EngineNodeCallback::scriptFor(double longitude, double latitude, int level)
{
    std::ostringstream script;
    script << "changepostion(" << longitude << "," << latitude << "," << level << ")";
    return script.str();
}

void EngineNodeCallback::operator()(osg::Node* node, osg::NodeVisitor* nv)
{
    osgGA::EventVisitor* events = nv ? nv->asEventVisitor() : nullptr;
    if (events && endsAMove(events->getEvents()))
    {
        osg::ref_ptr<osgEarth::MapNode> map;
        osg::ref_ptr<osgEarth::Util::EarthManipulator> manipulator;
        {
            std::lock_guard<std::mutex> lock(_mapLock);
            _mapNode.lock(map);
            _manipulator.lock(manipulator);
        }
        std::shared_ptr<Veltra> owner = _owner.lock();
        if (map.valid() && manipulator.valid() && owner)
        {
            const osgEarth::Viewpoint viewpoint = manipulator->getViewpoint();
            findTileNodeVistor finder(static_cast<float>(viewpoint.getRange()));
            if (osg::Node* engine = map->getTerrainEngine())
                engine->accept(finder);
            owner->setPendingScript(scriptFor(viewpoint.x(), viewpoint.y(), finder.getLevel()));
        }
    }
    traverse(node, nv);
}
