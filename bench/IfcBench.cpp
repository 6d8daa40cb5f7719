// IFC models: reading each shared sample (parse, geometry, scene) and the resident memory it
// costs; the Duplex through the viewer twice, the second time from the file cache's converted
// ".osgb" copy; and the Duplex drawn in a window (a private Xvfb with Mesa's software OpenGL when
// there is no display) while the camera orbits it.
//
// BM_IfcRead/<file>: read_s (one read, in this process), rss_gain_MiB (resident memory a fresh
// process gains from one read with the model kept, after one read of the smallest sample: the
// libraries' own first-read set-up, about 10 MiB, is not counted), elements (geodes).
// BM_IfcViewerCache: first_load_s (osgMainApp::loadfile, empty cache), second_load_s (the same
// path again, from the cache).
// BM_IfcOrbit: fps over 240 frames of one turn around the Duplex in an 800x600 window.
// The files come from the shared data folder ($VELTRA_SHARED_DATA or the folder beside the
// source tree); a missing file skips its case.
#include "globe/ProcessMemory.h"

#include "load/ViewerWindow.h"

#include "SharedData.h"

#include <SolvoEarthUtil/loading/BundledReaders.h>
#include <SolvoEarthUtil/loading/CacheWrites.h>
#include <Zir/osgMainApp.h>

#include <osg/Geode>
#include <osg/NodeVisitor>
#include <osgGA/CameraManipulator>
#include <osgDB/Registry>

#include <benchmark/benchmark.h>


#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const kFiles[] = {"ifc/Duplex_A_20110907.ifc", "ifc/AC20-FZK-Haus.ifc", "ifc/AC14-FZK-Haus.ifc",
                              "ifc/IfcOpenHouse_IFC4.ifc", "schedule/construction_scheduling_task_IFC4.ifc"};
const char* const kDuplex = kFiles[0];

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t geodesIn(osg::Node& node)
{
    struct Count : osg::NodeVisitor
    {
        Count() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
        void apply(osg::Geode&) override { ++geodes; }
        size_t geodes = 0;
    } count;
    node.accept(count);
    return count.geodes;
}

osg::ref_ptr<osg::Node> readThroughReader(const std::string& path)
{
    SolvoEarthUtil::useBundledReaders();
    return osgDB::Registry::instance()->readNode(path, nullptr).getNode();
}

// The resident memory one read adds with the model kept, the reader already loaded, measured in a
// child so that no earlier case's freed heap hides it; -1 when the child fails.
double residentGainOfOneRead(const std::string& path)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return -1.0;
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::close(pipeEnds[0]);
        // Neither the file's bytes nor what the reader's libraries set up at their first read
        // (the smallest sample read once before) are the model's cost.
        const std::string bytes = readWhole(path);
        const std::string warmUp = veltra::test::sharedDataFile(kFiles[4]);
        if (!warmUp.empty())
            readThroughReader(warmUp);
        const double before = veltra::bench::readProcessMemory().residentMiB;
        osg::ref_ptr<osg::Node> model = readThroughReader(path);
        double gain = model ? veltra::bench::readProcessMemory().residentMiB - before : -1.0;
        const bool written = ::write(pipeEnds[1], &gain, sizeof gain) == sizeof gain;
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    double gain = -1.0;
    if (child < 0 || ::read(pipeEnds[0], &gain, sizeof gain) != sizeof gain)
        gain = -1.0;
    ::close(pipeEnds[0]);
    int status = 0;
    if (child > 0)
        ::waitpid(child, &status, 0);
    return gain;
}

void BM_IfcRead(benchmark::State& state)
{
    const std::string path = veltra::test::sharedDataFile(kFiles[state.range(0)]);
    if (path.empty())
    {
        state.SkipWithError("shared data file absent");
        return;
    }
    state.SetLabel(std::filesystem::path(path).filename().string());
    size_t elements = 0;
    double seconds = 0.0;
    for (auto _ : state)
    {
        const auto start = Clock::now();
        osg::ref_ptr<osg::Node> model = readThroughReader(path);
        seconds += secondsSince(start);
        if (!model)
        {
            state.SkipWithError("not read");
            return;
        }
        elements = geodesIn(*model);
    }
    state.counters["read_s"] = seconds / static_cast<double>(state.iterations());
    state.counters["elements"] = static_cast<double>(elements);
    state.counters["rss_gain_MiB"] = residentGainOfOneRead(path);
}
BENCHMARK(BM_IfcRead)->DenseRange(0, 4)->ArgName("file")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// One window and one viewer application for the viewer cases.
veltra::bench::ViewerWindow& rig()
{
    static veltra::bench::ViewerWindow instance(800, 600, "ifc-bench");
    return instance;
}

// The rig and the Duplex's path, or null after marking the case skipped.
veltra::bench::ViewerWindow* viewerWithDuplexOrSkip(benchmark::State& state, std::string& path)
{
    veltra::bench::ViewerWindow& viewer = rig();
    path = veltra::test::sharedDataFile(kDuplex);
    if (!viewer.why().empty())
        state.SkipWithError(viewer.why().c_str());
    else if (path.empty())
        state.SkipWithError("shared data file absent");
    else
        return &viewer;
    return nullptr;
}

void BM_IfcViewerCache(benchmark::State& state)
{
    std::string path;
    veltra::bench::ViewerWindow* viewer = viewerWithDuplexOrSkip(state, path);
    if (!viewer)
        return;
    double first = 0.0, second = 0.0;
    for (auto _ : state)
    {
        viewer->emptyCache();
        auto start = Clock::now();
        const std::string whyFirst = viewer->app->loadfile(path);
        first += secondsSince(start);
        viewer->app->viewer->frame();
        viewer->app->clearScene();
        SolvoEarthUtil::waitForCacheWrites();
        start = Clock::now();
        const std::string whySecond = viewer->app->loadfile(path);
        second += secondsSince(start);
        viewer->app->viewer->frame();
        viewer->app->clearScene();
        if (!whyFirst.empty() || !whySecond.empty())
        {
            state.SkipWithError((whyFirst + whySecond).c_str());
            return;
        }
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["first_load_s"] = first / runs;
    state.counters["second_load_s"] = second / runs;
}
BENCHMARK(BM_IfcViewerCache)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_IfcOrbit(benchmark::State& state)
{
    std::string path;
    veltra::bench::ViewerWindow* viewer = viewerWithDuplexOrSkip(state, path);
    if (!viewer)
        return;
    const std::string why = viewer->app->loadfile(path);
    if (!why.empty())
    {
        state.SkipWithError(why.c_str());
        return;
    }
    osgViewer::Viewer& view = *viewer->app->viewer;
    view.frame(); // compiles the model; not part of the orbit
    const osg::BoundingSphere bound = view.getSceneData()->getBound();
    constexpr int kFrames = 240;
    double seconds = 0.0;
    for (auto _ : state)
    {
        const auto start = Clock::now();
        for (int frame = 0; frame < kFrames; ++frame)
        {
            const double angle = 2.0 * osg::PI * frame / kFrames;
            const osg::Vec3d centre(bound.center());
            const osg::Vec3d eye = centre + osg::Vec3d(std::cos(angle), std::sin(angle), 0.5) * (bound.radius() * 2.5);
            const osg::Matrixd viewMatrix = osg::Matrixd::lookAt(eye, centre, osg::Vec3d(osg::Z_AXIS));
            if (osgGA::CameraManipulator* manipulator = view.getCameraManipulator())
                manipulator->setByInverseMatrix(viewMatrix);
            else
                view.getCamera()->setViewMatrix(viewMatrix);
            view.frame();
        }
        seconds += secondsSince(start);
    }
    viewer->app->clearScene();
    state.counters["fps"] = kFrames * static_cast<double>(state.iterations()) / seconds;
}
BENCHMARK(BM_IfcOrbit)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
