#include <Zir/osgMainApp.h>

#include "CacheFolder.h"
#include "HighlightMarks.h"

#include <Zir/ProgressScene.h>

#include <SolvoEarthKits/loading/MyReadFileCallback.h>
#include <SolvoEarthKits/manipulators/FPM.h>
#include <SolvoEarthKits/picking/WebPickZirArchitectureHandler.h>
#include <SolvoEarthKits/selection/ModelSelector.h>
#include <SolvoEarthUtil/loading/MyReadNodeFile.h>
#include <SolvoEarthUtil/loading/SimpleJsonConfig.h>
#include <SolvoEarthUtil/scene/BackGroundImage.h>
#include <SolvoEarthUtil/scene/SkyBox.h>

#include <osg/Notify>
#include <osgDB/FileCache>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgGA/KeySwitchMatrixManipulator>
#include <osgGA/TerrainManipulator>
#include <osgGA/TrackballManipulator>
#include <osgViewer/api/X11/GraphicsWindowX11>

#include <algorithm>
#include <cctype>

namespace {

const char* const kSceneRootName = "Scene Root";

// The manipulator keys; a globe plug-in later replaces the walker and selects by these.
constexpr int kTrackballKey = '1';
constexpr int kWalkKey = '2';
constexpr int kTerrainKey = '3';

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

int manipulatorKeyOf(const std::string& name)
{
    const std::string key = lowerCase(name);
    if (key.empty() || key == "trackball" || key == "default")
        return kTrackballKey;
    if (key == "walk" || key == "fpm" || key == "first person")
        return kWalkKey;
    if (key == "terrain")
        return kTerrainKey;
    return 0;
}

// Why a model could not be read, as far as can be told without reading it.
std::string readFailureReason(const std::string& path)
{
    if (path.empty())
        return "no model path given";
    if (!osgDB::containsServerAddress(path) && !osgDB::fileExists(path))
        return "model file not found: " + path;
    const std::string extension = osgDB::getLowerCaseFileExtension(path);
    if (!osgDB::Registry::instance()->getReaderWriterForExtension(extension))
        return "no reader for \"." + extension + "\" models: " + path;
    return "the model could not be read: " + path;
}

// A window handed over by the page is not the context's own, and the context does not ask for
// its input: the mouse and keys are selected here, on the connection the frame thread reads
// events from, so that they reach the viewer's event queue. Called before frames run, as the
// connection is not shared between threads.
void selectWindowInput(osg::GraphicsContext* context)
{
    auto* window = dynamic_cast<osgViewer::GraphicsWindowX11*>(context);
    if (!window || !window->getEventDisplay())
        return;
    Display* display = window->getEventDisplay();
    XWindowAttributes attributes;
    long mask = 0;
    if (XGetWindowAttributes(display, window->getWindow(), &attributes))
        mask = attributes.your_event_mask;
    mask |= ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask | PointerMotionMask | ButtonPressMask |
            ButtonReleaseMask;
    XSelectInput(display, window->getWindow(), mask);
    XFlush(display);
}

} // namespace

struct osgMainApp::Impl
{
    Impl(osg::Group* sceneRoot, ZirViewer* zirViewer) : root(sceneRoot), viewer(zirViewer) {}

    osg::Group* root;  // the application's, which outlives this
    ZirViewer* viewer; // likewise
    osg::ref_ptr<osgGA::KeySwitchMatrixManipulator> manipulators;
    std::unique_ptr<ProgressScene> progress;
    osg::ref_ptr<MarloKits::WebPickZirArchitectureHandler> picker;
    osg::ref_ptr<ModelSelector> selector;
    std::vector<CallBack*> listeners; // not owned
    zir::HighlightMarks marks;
    osg::ref_ptr<osg::Node> skyBox;
    osg::ref_ptr<osg::Node> background;
    SolvoEarthUtil::SimpleJsonConfig servers;
    bool windowGiven = false;

    /// Puts a model read from `path` under a new "Scene Root" group added to the root.
    osg::Group* addModel(const std::string& path, osg::Node* model)
    {
        osg::ref_ptr<osg::Group> sceneRoot = new osg::Group;
        sceneRoot->setName(kSceneRootName);
        sceneRoot->setUserValue("fileName", path);
        sceneRoot->addChild(model);
        marks.mark(sceneRoot.get());
        root->addChild(sceneRoot.get());
        return sceneRoot.get();
    }

    void setHandlerInstalled(osgGA::GUIEventHandler* handler, bool on)
    {
        osgViewer::View::EventHandlers& handlers = viewer->getEventHandlers();
        const bool installed = std::find(handlers.begin(), handlers.end(), handler) != handlers.end();
        if (on && !installed)
            viewer->addEventHandler(handler);
        else if (!on && installed)
            viewer->removeEventHandler(handler);
    }

    void replaceUnderRoot(osg::ref_ptr<osg::Node>& slot, osg::Node* node)
    {
        if (slot.valid())
            root->removeChild(slot.get());
        slot = node;
        if (node)
            root->addChild(node);
    }
};

osgMainApp::osgMainApp() : root(new osg::Group), viewer(new ZirViewer), _impl(std::make_unique<Impl>(root.get(), viewer.get()))
{
    root->setName("Root");
    viewer->setSceneData(root.get());
    viewer->setRunMaxFrameRate(60.0);
    // A still view draws nothing; changes, input and the animations below ask for frames.
    viewer->setRunFrameScheme(osgViewer::ViewerBase::ON_DEMAND);
    // Keys belong to the page as well; Escape must not end the plug-in's frame loop.
    viewer->setKeyEventSetsDone(0);
    viewer->setQuitEventSetsDone(false);

    _impl->manipulators = new osgGA::KeySwitchMatrixManipulator;
    _impl->manipulators->addMatrixManipulator(kTrackballKey, "Trackball", new osgGA::TrackballManipulator);
    _impl->manipulators->addMatrixManipulator(kWalkKey, "Walk", new FPM);
    _impl->manipulators->addMatrixManipulator(kTerrainKey, "Terrain", new osgGA::TerrainManipulator);
    viewer->setCameraManipulator(_impl->manipulators.get());

    Impl* impl = _impl.get();
    // loadProgressControl reads a model that is not in the scene yet itself, before the scene lock.
    _impl->progress = std::make_unique<ProgressScene>(root.get(), viewer.get(), ProgressScene::ModelLoader());
    viewer->addAnimation([impl] { return impl->progress && impl->progress->animating(); });
    viewer->addAnimation([impl] { return impl->picker.valid() && impl->picker->hasPick(); });
}

osgMainApp::~osgMainApp()
{
    // The frame loop has stopped; what is left is to let go of the handlers before the viewer
    // goes, and to stop the pick's blink so no callback of ours stays on a part.
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    if (_impl->picker.valid())
    {
        _impl->setHandlerInstalled(_impl->picker.get(), false);
        _impl->picker->resetPick();
    }
    if (_impl->selector.valid())
        _impl->setHandlerInstalled(_impl->selector.get(), false);
    _impl->progress.reset();
}

void osgMainApp::initViewer(unsigned long window, unsigned width, unsigned height)
{
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    if (_impl->windowGiven)
    {
        OSG_WARN << "initViewer: the viewer already has a window; window " << window << " ignored" << std::endl;
        return;
    }
    if (window == 0 || width == 0 || height == 0)
    {
        OSG_WARN << "initViewer: no usable window (" << window << ", " << width << "x" << height << ")" << std::endl;
        return;
    }
    _impl->windowGiven = true;

    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->readDISPLAY();
    traits->setUndefinedScreenDetailsToDefaultScreen();
    traits->inheritedWindowData = new osgViewer::GraphicsWindowX11::WindowData(window);
    traits->x = 0;
    traits->y = 0;
    traits->width = static_cast<int>(width);
    traits->height = static_cast<int>(height);
    traits->windowDecoration = false;
    traits->doubleBuffer = true;
    traits->sharedContext = nullptr;

    osg::ref_ptr<osg::GraphicsContext> context = osg::GraphicsContext::createGraphicsContext(traits.get());
    if (!context.valid() || !context->valid())
    {
        OSG_WARN << "initViewer: no OpenGL context on window " << window << "; nothing will be drawn" << std::endl;
        return;
    }

    osg::Camera* camera = viewer->getCamera();
    camera->setGraphicsContext(context.get());
    camera->setViewport(new osg::Viewport(0, 0, traits->width, traits->height));
    camera->setProjectionMatrixAsPerspective(30.0, static_cast<double>(width) / static_cast<double>(height), 1.0,
                                             10000.0);
    const GLenum buffer = traits->doubleBuffer ? GL_BACK : GL_FRONT;
    camera->setDrawBuffer(buffer);
    camera->setReadBuffer(buffer);
    viewer->setThreadingModel(osgViewer::Viewer::SingleThreaded);
    viewer->realize();
    if (!viewer->isRealized())
    {
        OSG_WARN << "initViewer: the viewer could not be realized on window " << window << "; nothing will be drawn"
                 << std::endl;
        camera->setGraphicsContext(nullptr);
        return;
    }
    selectWindowInput(context.get());
    // realize() leaves the context current here; the frame thread must be able to take it.
    context->releaseContext();
    OSG_NOTICE << "viewer drawing into window " << window << " (" << width << "x" << height << ")" << std::endl;
}

void osgMainApp::setCachePath(std::string folder)
{
    const std::string preferred = folder.empty() ? std::string() : folder + "veltra-cache";
    const std::string chosen = zir::chooseCacheFolder(preferred);
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    // The registry is process-wide: every viewer of the process shares this cache from now on.
    if (chosen.empty())
    {
        OSG_WARN << "cache folder: none writable (tried \"" << preferred << "\" and the user cache); files read over "
                 << "HTTP are not cached" << std::endl;
        osgDB::Registry::instance()->setFileCache(nullptr);
        return;
    }
    OSG_NOTICE << "cache folder: " << chosen << std::endl;
    osgDB::Registry::instance()->setFileCache(new osgDB::FileCache(chosen));
}

void osgMainApp::addCallBack(CallBack* callback)
{
    if (!callback)
        return;
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    std::vector<CallBack*>& listeners = _impl->listeners;
    if (std::find(listeners.begin(), listeners.end(), callback) != listeners.end())
        return;
    listeners.push_back(callback);
    if (_impl->picker.valid())
        _impl->picker->addCallBack(callback);
}

void osgMainApp::removeCallBack(CallBack* callback)
{
    if (!callback)
        return;
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    std::vector<CallBack*>& listeners = _impl->listeners;
    listeners.erase(std::remove(listeners.begin(), listeners.end(), callback), listeners.end());
    if (_impl->picker.valid())
        _impl->picker->removeCallBack(callback);
}

std::string osgMainApp::loadfile(std::string& path)
{
    // Read before taking the scene lock: a download or a large file must not stop the frames.
    osg::ref_ptr<osg::Node> model = SolvoEarthUtil::MyReadNodeFile(path);
    if (!model)
    {
        const std::string why = readFailureReason(path);
        OSG_WARN << "loadfile: " << why << std::endl;
        return why;
    }
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    _impl->addModel(path, model.get());
    OSG_NOTICE << "loaded " << path << std::endl;
    viewer->home();
    return {};
}

void osgMainApp::QueryModelID(bool on)
{
    Impl* impl = _impl.get();
    viewer->sceneLock().changeSoon([impl, on] {
        if (on && !impl->picker.valid())
        {
            impl->picker = new MarloKits::WebPickZirArchitectureHandler;
            for (CallBack* listener : impl->listeners)
                impl->picker->addCallBack(listener);
        }
        if (!impl->picker.valid())
            return;
        impl->setHandlerInstalled(impl->picker.get(), on);
        if (!on)
            impl->picker->resetPick();
    });
}

void osgMainApp::addServerAddress(std::string path)
{
    SolvoEarthUtil::SimpleJsonConfig servers;
    if (!servers.loadJsonFile(path))
    {
        OSG_WARN << "addServerAddress: cannot read the server data at \"" << path << "\"" << std::endl;
        return;
    }
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    _impl->servers = servers;
    // The image fallback looks for servers among the registry's data file paths, which are
    // process-wide like the callback itself.
    osgDB::Registry* registry = osgDB::Registry::instance();
    osgDB::FilePathList paths = registry->getDataFilePathList();
    for (const std::string& key : _impl->servers.getValues())
    {
        const std::string address = _impl->servers.getValue(key);
        if (!osgDB::containsServerAddress(address))
            continue;
        if (std::find(paths.begin(), paths.end(), address) == paths.end())
        {
            paths.push_back(address);
            OSG_NOTICE << "server " << key << ": " << address << std::endl;
        }
    }
    registry->setDataFilePathList(paths);
    if (!dynamic_cast<MyReadFileCallback*>(registry->getReadFileCallback()))
        registry->setReadFileCallback(new MyReadFileCallback);
}

void osgMainApp::selectManiupltor(std::string name)
{
    const int key = manipulatorKeyOf(name);
    Impl* impl = _impl.get();
    viewer->sceneLock().changeSoon([impl, key, name] {
        // Selection goes by position in the key order, which survives keys being replaced.
        const osgGA::KeySwitchMatrixManipulator::KeyManipMap& map = impl->manipulators->getKeyManipMap();
        const auto found = map.find(key);
        if (key == 0 || found == map.end())
        {
            OSG_WARN << "selectManiupltor: no manipulator \"" << name << "\"" << std::endl;
            return;
        }
        const auto index = static_cast<unsigned>(std::distance(map.begin(), found));
        impl->manipulators->selectMatrixManipulator(index);
    });
}

void osgMainApp::home()
{
    ZirViewer* view = viewer.get();
    viewer->sceneLock().changeSoon([view] { view->home(); });
}

void osgMainApp::clearScene()
{
    Impl* impl = _impl.get();
    viewer->sceneLock().changeSoon([impl] {
        impl->progress->clear();
        if (impl->picker.valid())
            impl->picker->resetPick();
        if (impl->selector.valid())
            impl->selector->clearHighLight();
        impl->marks.setNames({});
        for (unsigned i = impl->root->getNumChildren(); i-- > 0;)
        {
            if (impl->root->getChild(i)->getName() == kSceneRootName)
                impl->root->removeChildren(i, 1);
        }
    });
}

void osgMainApp::addSkyBox(const std::string& path)
{
    // The sky box reads "<prefix>posX.jpg" and so on; a pattern names that prefix before "%s".
    std::string prefix = path;
    const std::string::size_type pattern = path.find("%s");
    if (pattern != std::string::npos)
    {
        prefix = path.substr(0, pattern);
        if (lowerCase(path.substr(pattern + 2)) != ".jpg")
            OSG_WARN << "addSkyBox: only \"%s.jpg\" patterns are read; using " << prefix << "posX.jpg ..."
                     << std::endl;
    }
    else if (!prefix.empty() && prefix.back() != '/')
    {
        prefix += '/';
    }
    osg::ref_ptr<osg::Node> skyBox = SolvoEarthUtil::createSkyBox(prefix);
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    _impl->replaceUnderRoot(_impl->skyBox, skyBox.get());
}

void osgMainApp::addbackground(const std::string& path)
{
    osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile(path);
    if (!image.valid())
    {
        OSG_WARN << "addbackground: cannot read the image \"" << path << "\"" << std::endl;
        return;
    }
    osg::ref_ptr<osg::Camera> background = SolvoEarthUtil::createBackGroundImage(image.get());
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    _impl->replaceUnderRoot(_impl->background, background.get());
}

void osgMainApp::MarkNodeHighLight(const std::string& names)
{
    Impl* impl = _impl.get();
    viewer->sceneLock().changeSoon([impl, wanted = zir::HighlightMarks::parseNames(names)] {
        impl->marks.setNames(wanted);
        for (unsigned i = 0; i < impl->root->getNumChildren(); ++i)
        {
            if (impl->root->getChild(i)->getName() == kSceneRootName)
                impl->marks.mark(impl->root->getChild(i));
        }
    });
}

void osgMainApp::switchModelSelector(bool on)
{
    Impl* impl = _impl.get();
    viewer->sceneLock().changeSoon([impl, on] {
        if (on && !impl->selector.valid())
            impl->selector = new ModelSelector;
        if (!impl->selector.valid())
            return;
        impl->setHandlerInstalled(impl->selector.get(), on);
        if (!on)
            impl->selector->clearHighLight();
    });
}

bool osgMainApp::loadProgressControl(const std::string& model, const std::string& tasks, const std::string& binding)
{
    // Documents named by path or URL are read before taking the scene lock: a download must not stop the frames.
    const std::string taskList = ProgressScene::readDocument(tasks);
    const std::string bindingDocument = ProgressScene::readDocument(binding);
    // So is the model when the page did not load it with loadfile first: parsing a large IFC file
    // under the lock would hold the frames for as long.
    bool held = model.empty();
    if (!held)
    {
        SceneLock::Guard guard = viewer->sceneLock().acquire();
        held = _impl->progress->holdsModel(model);
    }
    osg::ref_ptr<osg::Node> read;
    if (!held)
    {
        read = SolvoEarthUtil::MyReadNodeFile(model);
        if (!read)
            OSG_WARN << "progress model: " << readFailureReason(model) << std::endl;
    }
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    if (read && !_impl->progress->holdsModel(model))
        _impl->addModel(model, read.get());
    return _impl->progress->loadDocuments(model, taskList, bindingDocument);
}

bool osgMainApp::loadProgressControlTasks(const std::string& tasks, int flags)
{
    const std::string taskList = ProgressScene::readDocument(tasks);
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    return _impl->progress->loadTaskDocument(taskList, flags);
}

ProgressControl* osgMainApp::getProgressControl()
{
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    return _impl->progress->control();
}

ModelSelector* osgMainApp::getModelSelector()
{
    SceneLock::Guard guard = viewer->sceneLock().acquire();
    return _impl->selector.get();
}
