#include <SolvoEarthKits/selection/ModelSelector.h>

#include <osg/BlendColor>
#include <osg/BlendFunc>
#include <osgUtil/LineSegmentIntersector>
#include <osgViewer/View>

#include <algorithm>
#include <cstdint>

namespace {

// The identifier a part name carries (see getSelects), or "".
std::string identifierOf(const std::string& name)
{
    const std::string::size_type open = name.rfind('[');
    const std::string::size_type close = name.rfind(']');
    if (open != std::string::npos && close != std::string::npos)
    {
        // Unsigned 32-bit on purpose: a "]" before the last "[" wraps to a huge length, which
        // takes the rest of the name.
        const std::uint32_t span = static_cast<std::uint32_t>(close) - static_cast<std::uint32_t>(open);
        if (span >= 2)
            return name.substr(open + 1, span - 1);
    }
    const std::string::size_type colon = name.rfind(':');
    return colon == std::string::npos ? std::string() : name.substr(colon + 1);
}

} // namespace

ModelSelector::ModelSelector() = default;

ModelSelector::ModelSelector(const ModelSelector& other, const osg::CopyOp& copyop)
    : osg::Object(other, copyop), osg::Callback(other, copyop), osgGA::GUIEventHandler(other, copyop),
      _highLights(other._highLights)
{}

ModelSelector::~ModelSelector() = default;

bool ModelSelector::handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa)
{
    if (ea.getEventType() != osgGA::GUIEventAdapter::PUSH)
        return false;

    if (ea.getButton() == osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON)
    {
        auto* view = dynamic_cast<osgViewer::View*>(&aa);
        osgUtil::LineSegmentIntersector::Intersections hits;
        if (!view || !view->computeIntersections(ea.getX(), ea.getY(), hits, 0xFFFFFFFF))
            return false;
        for (const osgUtil::LineSegmentIntersector::Intersection& hit : hits)
        {
            if (hit.nodePath.empty())
                continue;
            pushHighLight(hit.nodePath.back());
            break;
        }
    }
    else if (ea.getButton() == osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON)
    {
        popHighLight();
    }
    return false;
}

void ModelSelector::pushHighLight(osg::Node* node)
{
    if (!node || std::any_of(_highLights.begin(), _highLights.end(),
                             [node](const auto& entry) { return entry.first.get() == node; }))
        return;

    osg::StateSet* previous = node->getStateSet();
    _highLights.emplace_back(node, previous);

    // Work on a copy: the previous state set may be shared, and it must come back unchanged.
    osg::ref_ptr<osg::StateSet> highLight =
        previous ? osg::clone(previous, osg::CopyOp::DEEP_COPY_ALL) : new osg::StateSet;
    const unsigned int on = osg::StateAttribute::ON | osg::StateAttribute::PROTECTED;
    highLight->setMode(GL_BLEND, on);
    highLight->setAttributeAndModes(new osg::BlendFunc(GL_CONSTANT_COLOR, GL_ONE_MINUS_CONSTANT_ALPHA), on);
    highLight->setAttributeAndModes(new osg::BlendColor(osg::Vec4(1.0f, 1.0f, 1.0f, 0.5f)), on);
    node->setStateSet(highLight.get());
}

void ModelSelector::popHighLight()
{
    if (_highLights.empty())
        return;
    _highLights.back().first->setStateSet(_highLights.back().second.get());
    _highLights.pop_back();
}

void ModelSelector::clearHighLight()
{
    while (!_highLights.empty())
        popHighLight();
}

std::vector<std::string> ModelSelector::getSelects() const
{
    std::vector<std::string> ids;
    for (const auto& entry : _highLights)
    {
        std::string id = identifierOf(entry.first->getName());
        if (!id.empty())
            ids.push_back(std::move(id));
    }
    return ids;
}
