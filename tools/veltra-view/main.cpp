// A desktop viewer on the ZIR application, run the way the plug-in runs it: the application draws
// into a window it is handed, frames run on a thread of their own, and the window's own X
// connection stays on the main thread.
#include <Zir/osgMainApp.h>

#include <SolvoEarthKits/progress/ProgressControl.h>

#include "veltra-demo/DemoBuilding.h"

#include <osg/Image>
#include <osgDB/WriteFile>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

namespace {

const char* const kUsage =
    "usage: veltra-view [model] [--tasks T --binding B] [--play] [--frames N] [--screenshot out.png]";
const unsigned kWidth = 1024;
const unsigned kHeight = 768;

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
        const veltra::demo::DemoBuilding demo;
        if (!osgDB::writeNodeFile(*demo.model(), demoFile.string()))
        {
            std::cerr << "veltra-view: cannot write the demo building to " << demoFile << std::endl;
            return 1;
        }
        options.model = demoFile.string();
        if (options.play && options.tasks.empty())
        {
            options.tasks = demo.tasksJson();
            options.binding = demo.bindingJson();
        }
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
