// A desktop viewer on the ZIR application, run the way the plug-in runs it: the application draws
// into a window it is handed, frames run on a thread of their own, and the window's own X
// connection stays on the main thread.
#include <Zir/osgMainApp.h>

#include <SolvoEarthKits/progress/ProgressControl.h>

#include <osg/Geode>
#include <osg/Image>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

namespace {

const char* const kUsage =
    "usage: veltra-view [model] [--tasks T --binding B] [--play] [--frames N] [--screenshot out.png]";
const unsigned kWidth = 1024;
const unsigned kHeight = 768;
const int kStoreys = 3;

struct Options
{
    std::string model;
    std::string tasks;
    std::string binding;
    bool play = false;
    long frames = 0; // 0: until the window is closed
    std::string screenshot;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return !out.empty();
        };
        if (arg == "--tasks" || arg == "--binding" || arg == "--screenshot")
        {
            if (!value(arg == "--tasks" ? options.tasks : arg == "--binding" ? options.binding : options.screenshot))
                return false;
        }
        else if (arg == "--frames")
        {
            std::string count;
            if (!value(count) || count.find_first_not_of("0123456789") != std::string::npos || count.size() > 9)
                return false;
            options.frames = std::stol(count);
            if (options.frames <= 0)
                return false;
        }
        else if (arg == "--play")
            options.play = true;
        else if (arg.rfind("-", 0) == 0 || !options.model.empty())
            return false;
        else
            options.model = arg;
    }
    // A schedule needs both halves.
    return options.tasks.empty() == options.binding.empty();
}

// The geode names carry the element ids the binding refers to ("Slab [101]").
void addPart(osg::Group& storey, const std::string& kind, int id, const osg::Vec3& centre, const osg::Vec3& size,
             const osg::Vec4& colour)
{
    osg::ref_ptr<osg::ShapeDrawable> box = new osg::ShapeDrawable(new osg::Box(centre, size.x(), size.y(), size.z()));
    box->setColor(colour);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName(kind + " [" + std::to_string(id) + "]");
    geode->addDrawable(box.get());
    storey.addChild(geode.get());
}

int slabId(int storey)
{
    return storey * 100 + 1;
}
int columnId(int storey, int i)
{
    return storey * 100 + 10 + i;
}
int wallId(int storey, int i)
{
    return storey * 100 + 20 + i;
}

// A few storeys of a 10 m square frame: a slab, four columns and two walls each.
osg::ref_ptr<osg::Group> demoBuilding()
{
    osg::ref_ptr<osg::Group> building = new osg::Group;
    building->setName("Demo building");
    for (int s = 1; s <= kStoreys; ++s)
    {
        osg::ref_ptr<osg::Group> storey = new osg::Group;
        storey->setName("Storey " + std::to_string(s));
        const float z = (s - 1) * 3.0f;
        addPart(*storey, "Slab", slabId(s), osg::Vec3(0, 0, z + 0.1f), osg::Vec3(10, 10, 0.2f),
                osg::Vec4(0.75f, 0.75f, 0.75f, 1));
        for (int i = 0; i < 4; ++i)
        {
            const osg::Vec3 corner((i & 1) ? 4.7f : -4.7f, (i & 2) ? 4.7f : -4.7f, z + 1.6f);
            addPart(*storey, "Column", columnId(s, i), corner, osg::Vec3(0.4f, 0.4f, 2.8f),
                    osg::Vec4(0.9f, 0.9f, 0.85f, 1));
        }
        addPart(*storey, "Wall", wallId(s, 0), osg::Vec3(0, 4.85f, z + 1.6f), osg::Vec3(9, 0.2f, 2.8f),
                osg::Vec4(0.85f, 0.7f, 0.55f, 1));
        addPart(*storey, "Wall", wallId(s, 1), osg::Vec3(-4.85f, 0, z + 1.6f), osg::Vec3(0.2f, 9, 2.8f),
                osg::Vec4(0.85f, 0.7f, 0.55f, 1));
        building->addChild(storey.get());
    }
    return building;
}

// "YYYY-MM-DD", `days` after 1 March 2024.
std::string demoDate(int days)
{
    std::tm date{};
    date.tm_year = 124;
    date.tm_mon = 2;
    date.tm_mday = 1 + days;
    date.tm_hour = 12;
    std::mktime(&date);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &date);
    return text;
}

// Slab, columns, walls storey by storey, ten days each; the second storey runs late and the
// third early, so that all three tints appear.
void demoSchedule(std::string& tasks, std::string& binding)
{
    tasks = "[";
    binding = "{";
    const char* names[] = {"Slab", "Columns", "Walls"};
    for (int s = 1; s <= kStoreys; ++s)
    {
        const int shift = s == 2 ? 4 : s == 3 ? -3 : 0;
        for (int step = 0; step < 3; ++step)
        {
            const std::string wbs = std::to_string(s) + "." + std::to_string(step + 1);
            const int start = ((s - 1) * 3 + step) * 10;
            tasks += std::string(tasks.size() > 1 ? "," : "") + "{\"wbs\":\"" + wbs + "\",\"name\":\"" + names[step] +
                     " " + std::to_string(s) + "\",\"startP\":\"" + demoDate(start) + "\",\"finishP\":\"" +
                     demoDate(start + 9) + "\",\"startA\":\"" + demoDate(start + shift) + "\",\"finishA\":\"" +
                     demoDate(start + 9 + shift) + "\"}";
            std::string ids;
            if (step == 0)
                ids = std::to_string(slabId(s));
            for (int i = 0; step == 1 && i < 4; ++i)
                ids += (i ? "," : "") + std::to_string(columnId(s, i));
            for (int i = 0; step == 2 && i < 2; ++i)
                ids += (i ? "," : "") + std::to_string(wallId(s, i));
            binding += std::string(binding.size() > 1 ? "," : "") + "\"" + wbs + "\":[" + ids + "]";
        }
    }
    tasks += "]";
    binding += "}";
}

// Reads the window's colour buffer at the end of a frame, once armed.
struct Capture : public osg::Camera::DrawCallback
{
    void operator()(osg::RenderInfo& renderInfo) const override
    {
        if (!armed.exchange(false))
            return;
        const osg::Viewport* viewport = renderInfo.getCurrentCamera()->getViewport();
        if (viewport)
            image->readPixels(int(viewport->x()), int(viewport->y()), int(viewport->width()), int(viewport->height()),
                              GL_RGB, GL_UNSIGNED_BYTE);
    }

    mutable std::atomic<bool> armed{false};
    osg::ref_ptr<osg::Image> image = new osg::Image;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options))
    {
        std::cerr << kUsage << std::endl;
        return 2;
    }

    std::filesystem::path demoFile;
    if (options.model.empty())
    {
        demoFile = std::filesystem::temp_directory_path() / ("veltra-demo-" + std::to_string(getpid()) + ".osgt");
        if (!osgDB::writeNodeFile(*demoBuilding(), demoFile.string()))
        {
            std::cerr << "veltra-view: cannot write the demo building to " << demoFile << std::endl;
            return 1;
        }
        options.model = demoFile.string();
        if (options.play && options.tasks.empty())
            demoSchedule(options.tasks, options.binding);
    }
    struct RemoveDemo
    {
        std::filesystem::path path;
        ~RemoveDemo()
        {
            std::error_code ignored;
            if (!path.empty())
                std::filesystem::remove(path, ignored);
        }
    } removeDemo{demoFile};

    XInitThreads();
    Display* display = XOpenDisplay(nullptr);
    if (!display)
    {
        std::cerr << "veltra-view: cannot open the X display" << std::endl;
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, kWidth, kHeight, 0,
                                              BlackPixel(display, screen), BlackPixel(display, screen));
    XStoreName(display, window, "veltra-view");
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XSelectInput(display, window, StructureNotifyMask);
    XMapWindow(display, window);
    for (XEvent event;;)
    {
        XNextEvent(display, &event);
        if (event.type == MapNotify && event.xmap.window == window)
            break;
    }

    int status = 0;
    {
        osgMainApp app;
        app.initViewer(window, kWidth, kHeight);
        const std::string failure = app.loadfile(options.model);
        if (!failure.empty())
        {
            std::cerr << "veltra-view: " << failure << std::endl;
            status = 1;
        }
        else if (!options.tasks.empty() && !app.loadProgressControl(options.model, options.tasks, options.binding))
        {
            std::cerr << "veltra-view: the schedule was not accepted" << std::endl;
            status = 1;
        }
        else if (options.play)
        {
            if (ProgressControl* control = app.getProgressControl())
            {
                if (!demoFile.empty())
                {
                    control->setMode(3);
                    control->setLoop(true);
                }
                control->start();
            }
        }

        osg::ref_ptr<Capture> capture = new Capture;
        if (!options.screenshot.empty())
            app.viewer->getCamera()->addFinalDrawCallback(capture.get());

        std::atomic<bool> quit{false};
        std::atomic<bool> finished{status != 0};
        std::atomic<long> drawn{0};
        std::thread frames([&] {
            while (status == 0 && !app.viewer->done())
            {
                const bool last = quit || (options.frames > 0 && drawn + 1 >= options.frames);
                if (last && !options.screenshot.empty())
                    capture->armed = true;
                app.viewer->frame();
                ++drawn;
                if (last)
                    break;
            }
            finished = true;
        });

        const int connection = ConnectionNumber(display);
        while (!finished)
        {
            pollfd ready{connection, POLLIN, 0};
            poll(&ready, 1, 50);
            while (XPending(display))
            {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == ClientMessage && Atom(event.xclient.data.l[0]) == deleteWindow)
                    quit = true;
            }
        }
        frames.join();

        if (status == 0 && drawn == 0)
            status = 1;
        if (status == 0 && !options.screenshot.empty())
        {
            if (!capture->image->data() || !osgDB::writeImageFile(*capture->image, options.screenshot))
            {
                std::cerr << "veltra-view: cannot write " << options.screenshot << std::endl;
                status = 1;
            }
        }
    }
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return status;
}
