// Loading a model of many parts the way the page does: osgMainApp::loadfile on an http URL (or a
// file path) with the file cache on, then the first frame in a real window (a private Xvfb with
// Mesa's software OpenGL when there is no display).
//
// BM_LoadModel/<format>/<parts>/<source>: format 0 is .osgb, 1 is .osgt; source 0 a local file,
// 1 the URL with an empty cache (download, parse, cache write), 2 the URL already in the cache.
// Counters: load_s (loadfile), frame_s (the first frame), next_frame_s (the one after it, with
// nothing left to compile), total_s (call to first picture),
// rss_per_part_KiB (resident memory gained from before the call to after the first frame),
// requests (HTTP requests the server answered). Run one case per process for the memory figure:
// a process's heap keeps what earlier cases freed.
#include "globe/ProcessMemory.h"
#include "load/PartModel.h"
#include "load/ViewerWindow.h"

#include "LoopbackHttp.h"

#include <SolvoEarthUtil/loading/CacheWrites.h>
#include <Zir/osgMainApp.h>

#include <osgDB/FileCache>
#include <osgDB/Registry>

#include <benchmark/benchmark.h>


#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const kExtensions[2] = {"osgb", "osgt"};
const int kPartCounts[] = {10000, 100000};

std::filesystem::path modelFolder()
{
    const char* folder = std::getenv("VELTRA_LOAD_BENCH_MODELS");
    return folder && *folder ? std::filesystem::path(folder)
                             : std::filesystem::temp_directory_path() / "veltra-load-bench-models";
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    return body.str();
}

// One process, one window, one application for all cases; the server answers from memory.
class LoadRig
{
public:
    LoadRig() : window(kWidth, kHeight, "load-bench")
    {
        if (window.why().empty())
            _server = std::make_unique<veltra::test::LoopbackServer>([this](int socket) { serve(socket); },
                                                                     std::chrono::seconds(3600));
    }

    ~LoadRig() { _server.reset(); }

    const std::string& why() const { return window.why(); }

    /// Makes `file` servable under its file name; read before any case measures memory.
    std::string publish(const std::string& file)
    {
        const std::string name = std::filesystem::path(file).filename().string();
        if (!_bodies.count("/" + name))
            _bodies["/" + name] = readWhole(file);
        return _server->url("/" + name);
    }

    /// Puts the model where the cache keeps `url`, as a first load would: loading it here would
    /// leave its memory to the heap, and the case would not see what the cached load costs.
    bool fillCache(const std::string& url, const std::string& file)
    {
        osgDB::FileCache* cache = osgDB::Registry::instance()->getFileCache();
        if (!cache)
            return false;
        const std::filesystem::path target = cache->createCacheFileName(url);
        std::error_code error;
        std::filesystem::create_directories(target.parent_path(), error);
        std::filesystem::copy_file(file, target, std::filesystem::copy_options::overwrite_existing, error);
        return !error && cache->existsInCache(url);
    }

    int requests() const { return _requests; }

    veltra::bench::ViewerWindow window;

private:
    static constexpr unsigned kWidth = 800;
    static constexpr unsigned kHeight = 600;

    void serve(int socket)
    {
        veltra::test::HttpRequest request;
        if (!veltra::test::readHttpRequest(socket, request))
            return;
        ++_requests;
        veltra::test::HttpResponse response;
        const auto body = _bodies.find(request.target);
        if (body == _bodies.end())
            response.status = 404;
        else
            response.body = body->second;
        veltra::test::writeHttpResponse(socket, response);
    }

    std::map<std::string, std::string> _bodies; // by target; filled before the server is used
    std::atomic<int> _requests{0};
    std::unique_ptr<veltra::test::LoopbackServer> _server;
};

LoadRig& rig()
{
    static LoadRig instance;
    return instance;
}

void BM_LoadModel(benchmark::State& state)
{
    LoadRig& load = rig();
    if (!load.why().empty())
    {
        state.SkipWithError(load.why().c_str());
        return;
    }
    const std::string extension = kExtensions[state.range(0)];
    const int parts = static_cast<int>(state.range(1));
    const int source = static_cast<int>(state.range(2));
    const std::string file = veltra::bench::partModelFile(modelFolder(), parts, extension);
    if (file.empty())
    {
        state.SkipWithError("the model could not be written");
        return;
    }
    std::string path = source == 0 ? file : load.publish(file);
    load.window.emptyCache();
    if (source == 2 && !load.fillCache(path, file))
    {
        state.SkipWithError("the cache could not be filled");
        return;
    }

    double loadSeconds = 0.0, frameSeconds = 0.0, nextFrameSeconds = 0.0, residentGain = 0.0;
    const int requestsBefore = load.requests();
    for (auto _ : state)
    {
        const double before = veltra::bench::readProcessMemory().residentMiB;
        const auto start = std::chrono::steady_clock::now();
        const std::string why = load.window.app->loadfile(path);
        const auto loaded = std::chrono::steady_clock::now();
        load.window.app->viewer->frame();
        const auto drawn = std::chrono::steady_clock::now();
        load.window.app->viewer->frame();
        nextFrameSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - drawn).count();
        if (!why.empty())
        {
            state.SkipWithError(why.c_str());
            break;
        }
        residentGain += veltra::bench::readProcessMemory().residentMiB - before;
        loadSeconds += std::chrono::duration<double>(loaded - start).count();
        frameSeconds += std::chrono::duration<double>(drawn - loaded).count();
        state.PauseTiming();
        load.window.app->clearScene();
        load.window.app->viewer->frame();
        if (source == 1)
            load.window.emptyCache();
        state.ResumeTiming();
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["load_s"] = loadSeconds / runs;
    state.counters["frame_s"] = frameSeconds / runs;
    state.counters["next_frame_s"] = nextFrameSeconds / runs;
    state.counters["total_s"] = (loadSeconds + frameSeconds) / runs;
    state.counters["rss_per_part_KiB"] = residentGain * 1024.0 / runs / parts;
    state.counters["requests"] = (load.requests() - requestsBefore) / runs;
}
BENCHMARK(BM_LoadModel)
    ->ArgsProduct({{0, 1}, {10000, 100000}, {0, 1, 2}})
    ->ArgNames({"text", "parts", "source"})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    // The models are made in a child process, so that this process's heap holds none of them
    // when the cases measure its resident memory.
    const pid_t child = ::fork();
    if (child == 0)
    {
        for (int parts : kPartCounts)
            for (const char* extension : kExtensions)
                if (veltra::bench::partModelFile(modelFolder(), parts, extension).empty())
                    ::_exit(1);
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
