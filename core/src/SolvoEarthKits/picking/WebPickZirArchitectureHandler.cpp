#include <SolvoEarthKits/picking/WebPickZirArchitectureHandler.h>

#include <SolvoEarthUtil/scene/ModelHighLight.h>

#include <osgDB/Serializer>
#include <osgUtil/LineSegmentIntersector>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace MarloKits {

WebPickZirArchitectureHandler::WebPickZirArchitectureHandler()
    : _pickRoot(new osg::Group), _blinkCallBack(new SolvoEarthUtil::ScintillationNodeCallBack(3))
{}

WebPickZirArchitectureHandler::~WebPickZirArchitectureHandler() = default;

bool WebPickZirArchitectureHandler::handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa)
{
    if (ea.getEventType() != osgGA::GUIEventAdapter::PUSH ||
        ea.getButton() != osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON)
        return false;
    if (auto* view = dynamic_cast<osgViewer::View*>(&aa))
        pick(view, ea);
    return false;
}

void WebPickZirArchitectureHandler::pick(osgViewer::View* view, const osgGA::GUIEventAdapter& ea)
{
    osgUtil::LineSegmentIntersector::Intersections hits;
    if (!view || !view->computeIntersections(ea, hits, 0xFFFFFFFF))
        return;

    // Parts without an id (glass, helpers) let the pick through to what lies behind them, but a
    // hit that names no node at all ends the search.
    osg::Node* node = nullptr;
    int id = 0;
    for (const auto& hit : hits)
    {
        if (hit.nodePath.empty() || !hit.nodePath.back())
            break;
        if (findID(hit.nodePath.back()->getName(), id))
        {
            node = hit.nodePath.back();
            break;
        }
    }
    if (!node)
    {
        _pickRoot->setNodeMask(0);
        return;
    }

    osg::ref_ptr<osg::Node> current;
    const bool sameAgain = _currentPick.lock(current) && current.get() == node;
    resetPick();
    if (!sameAgain)
    {
        _currentPick = node;
        node->addUpdateCallback(_blinkCallBack.get());
    }
    tellListeners(id);
}

void WebPickZirArchitectureHandler::queryArchitectureAttribute(int id)
{
    tellListeners(id);
}

void WebPickZirArchitectureHandler::queryArchitectureAttribute(std::string text, int value)
{
    // A listener may add or remove listeners while it is told; walk the list as it was.
    const std::vector<CallBack*> listeners = _callBacks;
    for (CallBack* cb : listeners)
        cb->response(text, value);
    _pickRoot->setNodeMask(0xFFFFFFFF);
}

void WebPickZirArchitectureHandler::resetPick()
{
    osg::ref_ptr<osg::Node> current;
    if (_currentPick.lock(current))
    {
        current->removeUpdateCallback(_blinkCallBack.get());
        SolvoEarthUtil::removeModelHighLight(current.get());
    }
    _currentPick = nullptr;
}

void WebPickZirArchitectureHandler::removeCallBack(CallBack* cb)
{
    if (!cb)
        return;
    CallBackManger::removeCallBack(cb);
    resetPick();
}

osg::Node* WebPickZirArchitectureHandler::getPickRoot()
{
    return _pickRoot.get();
}

std::string WebPickZirArchitectureHandler::getRootFileName(osg::Node* node)
{
    // Iterates where the lookup is defined recursively: the climb follows first parents only.
    for (osg::Node* child = node; child && child->getNumParents() > 0;)
    {
        osg::Group* parent = child->getParent(0);
        // On Linux the current code page is UTF-8, so names and messages go out as they are.
        if (parent->getName() == "Scene Root")
        {
            std::cout << "找到文件根  node name " << parent->getName() << std::endl;
            std::string fileName;
            parent->getUserValue("fileName", fileName);
            std::cout << "文件名  " << fileName << std::endl;
            return fileName;
        }
        child = parent;
    }
    return std::string();
}

bool WebPickZirArchitectureHandler::findID(std::string name, int& id)
{
    const std::string::size_type open = name.find('[');
    const std::string::size_type close = name.find(']');
    if (open != std::string::npos && close != std::string::npos)
    {
        // When "]" comes first the length wraps around and the text runs to the end of the name.
        const auto length = static_cast<std::uint32_t>(close - open - 1);
        id = std::atoi(name.substr(open + 1, length).c_str());
        return true;
    }
    std::vector<std::string> pieces;
    osgDB::split(name, pieces, ':');
    if (pieces.size() > 2)
    {
        id = std::atoi(pieces.back().c_str());
        return true;
    }
    return false;
}

void WebPickZirArchitectureHandler::tellListeners(int id)
{
    // A listener may add or remove listeners while it is told; walk the list as it was.
    const std::vector<CallBack*> listeners = _callBacks;
    for (CallBack* cb : listeners)
        cb->response(id);
}

} // namespace MarloKits
