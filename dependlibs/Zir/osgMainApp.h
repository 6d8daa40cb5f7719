#pragma once

#include <Zir/ZirExport.h>
#include <Zir/ZirViewer.h>

#include <osg/Group>
#include <osg/ref_ptr>

#include <memory>
#include <string>
#include <vector>

class CallBack;
class ModelSelector;
class ProgressControl;
class ProgressScene;
namespace MarloKits {
class WebPickZirArchitectureHandler;
}

/// The ZIR viewer application: one viewer drawing into a window it is handed, a scene root that
/// models are loaded under, selection, model-id reports and the progress simulation.
///
/// Threads: every operation is called from the browser's main thread, except frames, which the
/// rendering thread runs. Operations that change the scene hold the viewer's scene lock
/// (ZirViewer::sceneLock), which each frame holds for its traversals of the scene. Those that
/// answer nothing (home, clearScene, MarkNodeHighLight, QueryModelID, switchModelSelector,
/// selectManiupltor) never wait for a frame's traversals: while a frame holds the lock they are
/// queued, in order, and made as soon as the frame lets go of the scene or before any other
/// operation. Not copyable; destroy it only after the frame loop has stopped.
class ZIR_EXPORT osgMainApp
{
public:
    osgMainApp();
    ~osgMainApp();
    osgMainApp(const osgMainApp&) = delete;
    osgMainApp& operator=(const osgMainApp&) = delete;

    /// The scene root (a group named "Root"); loaded models, the sky box and the background
    /// hang under it. Lives as long as the application.
    osg::ref_ptr<osg::Group> root;
    /// The viewer that draws `root`; lives as long as the application.
    osg::ref_ptr<ZirViewer> viewer;

    /// Makes the viewer draw into the X11 window `window` (an X Window id) of `width` x `height`
    /// pixels: a graphics context on that window, input selected on it through the viewer's own
    /// event display, the single-threaded model (frames run on the thread that calls frame()), and
    /// the context released on the calling thread so that the frame thread can make it current.
    /// Once per application; later calls are ignored with a warning.
    void initViewer(unsigned long window, unsigned width, unsigned height);

    /// Files read over HTTP are cached in "<folder>veltra-cache" (an osgDB::FileCache). When that
    /// folder cannot be created or written (the plug-in lives in a system folder), the user's
    /// cache folder is used instead ($XDG_CACHE_HOME/veltra, else ~/.cache/veltra) and the choice
    /// is logged at NOTICE.
    void setCachePath(std::string folder);

    /// Registers a listener for model ids (see QueryModelID); not owned, the caller keeps it alive
    /// until it removes it or the application is destroyed. The same listener twice counts once.
    void addCallBack(CallBack* callback);
    void removeCallBack(CallBack* callback);

    /// Loads a model (any format OpenSceneGraph reads, local path or URL, through the file cache)
    /// under a new group named "Scene Root" carrying the user value "fileName" = `path`, added to
    /// the root, and frames the camera on it. Returns "" on success, or a message saying why the
    /// model could not be loaded (nothing is added then).
    std::string loadfile(std::string& path);

    /// On: a click on a part of a model reports the part's id to every registered listener
    /// (response(int)) and blinks the part. Off: clicks report nothing.
    void QueryModelID(bool on);

    /// Reads the server data file at `path` (a JSON object of server addresses) into the
    /// configuration that the image-read fallback uses, and installs that fallback once.
    void addServerAddress(std::string path);

    /// Switches the camera manipulator by name: "trackball" (also "" and "default"), "walk"
    /// (also "fpm", "first person") or "terrain"; case does not matter. Unknown names change
    /// nothing and log a warning. Keys: '1' trackball, '2' walk, '3' terrain.
    void selectManiupltor(std::string name);

    /// Puts the camera back to its home position over the whole scene.
    void home();

    /// Removes every loaded model, the progress simulation and its panels, the selection and
    /// the highlight marks; the sky box and background stay.
    void clearScene();

    /// Adds a sky box from the six images named by `path` (a folder holding posx/negx/posy/negy/
    /// posz/negz images, or a pattern with "%s"), replacing an earlier one.
    void addSkyBox(const std::string& path);

    /// Shows the image at `path` behind the scene, replacing an earlier background.
    void addbackground(const std::string& path);

    /// Marks the parts whose names are in the comma-separated list `names` with the highlight,
    /// in the models loaded now and in every part that loads later (paged parts).
    void MarkNodeHighLight(const std::string& names);

    /// On: clicking parts selects them (highlighted; Ctrl adds to the selection). Off: the
    /// selector stops and its selection is cleared. The selector exists from the first "on".
    void switchModelSelector(bool on);

    /// Builds the progress simulation over a model and shows it in the model's place, with the
    /// planner's panels (date and current tasks at top left, notes at bottom left, and a legend of
    /// the three tints). `model` is the "fileName" of a loaded model, or a path that is loaded
    /// first as by loadfile. `tasks` and `binding` are JSON texts, or paths or URLs of JSON files:
    /// the task list (an array of task objects) and the binding (WBS code to element ids). Both
    /// planned and actual dates are read (flags 3). A control built earlier is replaced. True
    /// when a control exists afterwards.
    bool loadProgressControl(const std::string& model, const std::string& tasks, const std::string& binding);

    /// Re-reads the task data (text, path or URL, as above) of the current control with `flags`
    /// (1 planned, 2 actual, 3 both) and shows the current date again. False without a control or
    /// when the document is rejected.
    bool loadProgressControlTasks(const std::string& tasks, int flags);

    /// The current control and selector; null while there is none. Owned by the application.
    ProgressControl* getProgressControl();
    ModelSelector* getModelSelector();

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};
