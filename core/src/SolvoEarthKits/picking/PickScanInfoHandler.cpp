#include <SolvoEarthKits/picking/PickScanInfoHandler.h>

#include <osg/Notify>
#include <osgUtil/LineSegmentIntersector>


namespace MarloKits {

void PickScanInfoHandler::pickCallBack::onPick(osg::Node*, const osg::Vec3d&)
{}

PickScanInfoHandler::PickScanInfoHandler() = default;

PickScanInfoHandler::~PickScanInfoHandler() = default;

void PickScanInfoHandler::setSRS(const osgEarth::SpatialReference* srs)
{
    _srs = srs;
}

void PickScanInfoHandler::addCallBack(pickCallBack* cb)
{
    if (cb)
        _callBacks.emplace_back(cb);
}

bool PickScanInfoHandler::handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa)
{
    if (ea.getEventType() != osgGA::GUIEventAdapter::PUSH)
        return false;
    if (auto* view = dynamic_cast<osgViewer::View*>(&aa))
        pick(view, ea);
    return false;
}

void PickScanInfoHandler::pick(osgViewer::View* view, const osgGA::GUIEventAdapter& ea)
{
    osgUtil::LineSegmentIntersector::Intersections hits;
    if (!view || !view->computeIntersections(ea, hits, 0xFFFFFFFF) || hits.empty())
        return;

    // The set is ordered by distance along the pick ray, so the first hit is the nearest.
    const osgUtil::LineSegmentIntersector::Intersection& nearest = *hits.begin();
    osg::Node* node = nearest.nodePath.empty() ? nullptr : nearest.nodePath.back();
    // On Linux the current code page is UTF-8, so the name goes out as it is.
    if (node && osg::isNotifyEnabled(osg::NOTICE))
        osg::notify(osg::NOTICE) << "pick object name ANSI " << node->getName() << std::endl;

    if (!_srs.valid())
        return;
    osg::Vec3d position(0.0, 0.0, 0.0);
    // A point the reference cannot take (the earth's centre, say) is still reported, as (0, 0, 0).
    _srs->transformFromWorld(nearest.getWorldIntersectPoint(), position);

    // A listener may add listeners while it is told; tell the ones there were when the pick happened.
    const std::vector<osg::ref_ptr<pickCallBack>> listeners = _callBacks;
    for (const auto& listener : listeners)
        listener->onPick(node, position);
}

} // namespace MarloKits
