#pragma once

#include <Zir/ZirExport.h>

#include <osg/Group>
#include <osg/ref_ptr>

#include <functional>
#include <memory>
#include <string>

class ProgressControl;
namespace osgViewer {
class View;
}

/// The progress simulation as the ZIR application shows it: the ProgressControl over one model,
/// put in the scene in the model's place, and the planner's panels on the viewer's screen while it
/// exists: the date and current tasks (ProgressControl::onTodayText) in a top-left panel
/// (ScreenInfoLT), the notes (onNotesText) in a bottom-left panel (ScreenInfoLB), and a legend of
/// the three tints (GraphicSymbol: purple, green, blue, with Chinese and English labels).
///
/// Called from the main thread with the scene lock held by the application.
class ZIR_EXPORT ProgressScene
{
public:
    /// Loads a model from a path the way the application's loadfile does, returning its
    /// "Scene Root" group (already under the root) or null. May be empty: a model that is not in
    /// the scene then fails the load.
    using ModelLoader = std::function<osg::Group*(const std::string& path)>;

    /// `root`: the scene root; models are its "Scene Root" children. `view`: where the panels go.
    ProgressScene(osg::Group* root, osgViewer::View* view, ModelLoader loader);
    ~ProgressScene();
    ProgressScene(const ProgressScene&) = delete;
    ProgressScene& operator=(const ProgressScene&) = delete;

    /// A JSON document given as text (taken as it is) or by the path or URL of a file holding it; ""
    /// when the file cannot be read. Touches no scene, so it may run without the scene lock.
    static std::string readDocument(const std::string& textOrLocation);

    /// Whether the scene holds a model loaded from `model` (the path or URL given to loadfile).
    bool holdsModel(const std::string& model) const;

    /// See osgMainApp::loadProgressControl; the documents are read with readDocument first.
    bool load(const std::string& model, const std::string& tasks, const std::string& binding);
    /// The same with documents already read: their text is used as it is.
    bool loadDocuments(const std::string& model, const std::string& taskList, const std::string& bindingDocument);
    /// See osgMainApp::loadProgressControlTasks; the document is read with readDocument first.
    bool loadTasks(const std::string& tasks, int flags);
    /// The same with the document already read.
    bool loadTaskDocument(const std::string& taskList, int flags);
    /// The current control, or null.
    ProgressControl* control() const;
    /// True while playback runs or a date text waits for the panels: frames must go on.
    bool animating() const;
    /// Takes the control out of the scene (the model stays where it was) and removes the panels.
    void clear();

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};
