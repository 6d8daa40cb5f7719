#include "globe/GlobeFlight.h"

#include "capture/XvfbServer.h"

#include <osgEarthUtil/Sky>

#include <osgDB/ReadFile>

#include <algorithm>
#include <cstdlib>
#include <exception>

namespace veltra::bench {

namespace {

// A leg that has not landed this long after its planned end is stuck, not slow: frames are paced by the wall clock.
constexpr double kLegGraceSeconds = 60.0;

} // namespace

GlobeFlight::GlobeFlight() = default;

GlobeFlight::~GlobeFlight()
{
    // The viewer's window and pager threads must go before the X server they draw on.
    _viewer = nullptr;
    _xvfb.reset();
}

bool GlobeFlight::open(const std::filesystem::path& earthFile, int width, int height, std::string& why)
{
    try
    {
        _xvfb = veltra::host::startXvfbUnlessDisplayOpens("1920x1080x24");
    }
    catch (const std::exception& error)
    {
        why = std::string("no X display and no Xvfb: ") + error.what();
        return false;
    }

    osg::ref_ptr<osg::Node> loaded = osgDB::readNodeFile(earthFile.string());
    _mapNode = osgEarth::MapNode::get(loaded.get());
    if (!_mapNode)
    {
        why = "no map node from " + earthFile.string();
        return false;
    }

    _viewer = new osgViewer::Viewer();
    // One thread draws, as the plug-in's rendering thread does; the figures then measure one frame at a time.
    _viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    _viewer->setUpViewInWindow(0, 0, width, height);
    _viewer->setKeyEventSetsDone(0);

    // The sky lights its subgraph, so the terrain goes under it, as the system arranges it.
    osg::ref_ptr<osg::Group> root = _mapNode.get();
    const osgEarth::Config* skyConf = _mapNode->externalConfig().child_ptr("sky");
    osg::ref_ptr<osgEarth::Util::SkyNode> sky =
        skyConf ? osgEarth::Util::SkyNode::create(osgEarth::Util::SkyOptions(osgEarth::ConfigOptions(*skyConf)),
                                                  _mapNode.get())
                : nullptr;
    if (sky)
    {
        sky->addChild(_mapNode.get());
        sky->attach(_viewer.get());
        root = sky;
    }
    _viewer->setSceneData(root.get());
    _manipulator = new osgEarth::Util::EarthManipulator();
    _viewer->setCameraManipulator(_manipulator.get());

    _viewer->realize();
    if (!_viewer->isRealized())
    {
        const char* display = std::getenv("DISPLAY");
        why = "the viewer's window could not be opened on display " + std::string(display ? display : "(none)");
        return false;
    }
    return true;
}

TileCensus GlobeFlight::tiles() const
{
    return countTiles(_mapNode ? _mapNode->getTerrainEngine() : nullptr);
}

void GlobeFlight::frame(FlightFigures& figures)
{
    _viewer->frame();
    ++figures.frames;
    const TileCensus now = tiles();
    figures.deepestLevelSeen = std::max(figures.deepestLevelSeen, now.deepestLevel);
    figures.mostTiles = std::max(figures.mostTiles, now.tiles);
}

void GlobeFlight::renderFor(double seconds, FlightFigures& figures)
{
    const osg::Timer_t start = osg::Timer::instance()->tick();
    double elapsed = 0.0;
    while (elapsed < seconds)
    {
        frame(figures);
        elapsed = osg::Timer::instance()->delta_s(start, osg::Timer::instance()->tick());
    }
    figures.seconds += elapsed;
}

void GlobeFlight::settle(const osgEarth::Viewpoint& vp, double seconds)
{
    _manipulator->setViewpoint(vp, 0.0);
    FlightFigures ignored;
    renderFor(seconds, ignored);
}

bool GlobeFlight::flyTo(const osgEarth::Viewpoint& vp, double seconds, FlightFigures& figures)
{
    _manipulator->setViewpoint(vp, seconds);
    // The flight starts on the next frame event; run at least one frame before asking whether it is over.
    const osg::Timer_t start = osg::Timer::instance()->tick();
    do
    {
        frame(figures);
        if (osg::Timer::instance()->delta_s(start, osg::Timer::instance()->tick()) > seconds + kLegGraceSeconds)
        {
            return false;
        }
    } while (_manipulator->isSettingViewpoint());
    return true;
}

bool GlobeFlight::roundTrip(const osgEarth::Viewpoint& high, const osgEarth::Viewpoint& low, double legSeconds,
                            double holdSeconds, FlightFigures& figures, std::string& why)
{
    figures = FlightFigures();
    const osg::Timer_t start = osg::Timer::instance()->tick();
    if (!flyTo(low, legSeconds, figures))
    {
        why = "the flight down to " + low.getName() + " did not end";
        return false;
    }
    renderFor(holdSeconds, figures);
    if (!flyTo(high, legSeconds, figures))
    {
        why = "the flight back to " + high.getName() + " did not end";
        return false;
    }
    renderFor(holdSeconds, figures);
    figures.seconds = osg::Timer::instance()->delta_s(start, osg::Timer::instance()->tick());
    figures.atEnd = tiles();
    figures.memory = readProcessMemory();
    return true;
}

} // namespace veltra::bench
