#pragma once

#include "globe/ProcessMemory.h"
#include "globe/TileCensus.h"

#include <osgEarth/MapNode>
#include <osgEarth/Viewpoint>
#include <osgEarthUtil/EarthManipulator>

#include <osgViewer/Viewer>

#include <filesystem>
#include <memory>
#include <string>

namespace veltra::host {
class XvfbServer;
}

namespace veltra::bench {

/// What one round trip (down to a place and back up) measured.
struct FlightFigures
{
    unsigned frames = 0;
    double seconds = 0.0;
    double framesPerSecond() const { return seconds > 0.0 ? frames / seconds : 0.0; }
    unsigned deepestLevelSeen = 0; // the finest tile level present at any frame of the trip
    unsigned mostTiles = 0;        // the most tiles present at any frame
    TileCensus atEnd;              // tiles present once back over the whole globe
    ProcessMemory memory;          // after the trip
};

/// A real viewer on an X display (a private Xvfb when the process has none) drawing a globe earth file with its sky,
/// paging tiles through the viewer's DatabasePager and flying the EarthManipulator between two viewpoints.
/// Everything runs on the calling thread except the pager's loading threads.
class GlobeFlight
{
public:
    GlobeFlight();
    ~GlobeFlight();
    GlobeFlight(const GlobeFlight&) = delete;
    GlobeFlight& operator=(const GlobeFlight&) = delete;

    /// Opens a `width` × `height` window and loads `earthFile`; false with the reason in `why` when either fails.
    bool open(const std::filesystem::path& earthFile, int width, int height, std::string& why);

    /// Puts the camera on `vp` at once and renders for `seconds` so the pager can catch up.
    void settle(const osgEarth::Viewpoint& vp, double seconds);

    /// Flies from `high` to `low` in `legSeconds`, holds there for `holdSeconds`, flies back and holds again.
    /// False with the reason in `why` when a leg does not end (the manipulator stopped flying).
    bool roundTrip(const osgEarth::Viewpoint& high, const osgEarth::Viewpoint& low, double legSeconds,
                   double holdSeconds, FlightFigures& figures, std::string& why);

    /// Renders from where the camera is for `seconds`, counting the frames into `figures`.
    void renderFor(double seconds, FlightFigures& figures);

    TileCensus tiles() const;
    osgViewer::Viewer& viewer() { return *_viewer; }

private:
    bool flyTo(const osgEarth::Viewpoint& vp, double seconds, FlightFigures& figures);
    void frame(FlightFigures& figures);

    std::unique_ptr<veltra::host::XvfbServer> _xvfb;
    osg::ref_ptr<osgViewer::Viewer> _viewer;
    osg::ref_ptr<osgEarth::MapNode> _mapNode;
    osg::ref_ptr<osgEarth::Util::EarthManipulator> _manipulator;
};

} // namespace veltra::bench
