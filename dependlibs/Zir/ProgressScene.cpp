#include <Zir/ProgressScene.h>

#include <SolvoEarthKits/hud/GraphicSymbol.h>
#include <SolvoEarthKits/hud/ScreenInfoLB.h>
#include <SolvoEarthKits/hud/ScreenInfoLT.h>
#include <SolvoEarthKits/progress/ProgressControl.h>
#include <SolvoEarthKits/progress/TaskStyle.h>
#include <SolvoEarthUtil/http/ReadWebJsonFile.h>

#include <osg/Notify>
#include <osg/observer_ptr>
#include <osgViewer/View>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

namespace {

const char* const kPanelsName = "Progress Panels";

// The control reports on whichever thread changed the date: the rendering thread during playback,
// the page's thread otherwise. The texts wait here and reach the panels in the update traversal,
// so a text is never replaced while the frame draws it.
class PendingTexts : public osg::Referenced
{
public:
    void setToday(const std::string& text) { put(_today, text); }
    void setNotes(const std::string& text) { put(_notes, text); }
    bool pending()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _today || _notes;
    }

    void applyTo(ScreenInfo& todayPanel, ScreenInfo& notesPanel)
    {
        std::optional<std::string> today;
        std::optional<std::string> notes;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            today.swap(_today);
            notes.swap(_notes);
        }
        if (today)
            todayPanel.setInfo(*today);
        if (notes)
            notesPanel.setInfo(*notes);
    }

private:
    void put(std::optional<std::string>& slot, const std::string& text)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        slot = text;
    }

    std::mutex _mutex;
    std::optional<std::string> _today;
    std::optional<std::string> _notes;
};

class ApplyTextsCallback : public osg::NodeCallback
{
public:
    ApplyTextsCallback(PendingTexts* texts, ScreenInfo* todayPanel, ScreenInfo* notesPanel)
        : _texts(texts), _todayPanel(todayPanel), _notesPanel(notesPanel)
    {}

    void operator()(osg::Node* node, osg::NodeVisitor* nv) override
    {
        osg::ref_ptr<ScreenInfo> today;
        osg::ref_ptr<ScreenInfo> notes;
        if (_todayPanel.lock(today) && _notesPanel.lock(notes))
            _texts->applyTo(*today, *notes);
        traverse(node, nv);
    }

private:
    osg::ref_ptr<PendingTexts> _texts;
    // The panels are children of the node carrying this callback; no cycle.
    osg::observer_ptr<ScreenInfo> _todayPanel;
    osg::observer_ptr<ScreenInfo> _notesPanel;
};


// The "Scene Root" group under `root` that was loaded from `model`, or null.
osg::Group* sceneRootOf(osg::Group& root, const std::string& model)
{
    for (unsigned int i = 0; i < root.getNumChildren(); ++i)
    {
        osg::Group* group = root.getChild(i)->asGroup();
        std::string fileName;
        if (group && group->getUserValue("fileName", fileName) && fileName == model)
            return group;
    }
    return nullptr;
}

// Puts `replacement` in `current`'s place under every parent of `current`.
void replaceEverywhere(osg::Node& current, osg::Node& replacement)
{
    const osg::Node::ParentList parents = current.getParents();
    for (osg::Group* parent : parents)
        parent->replaceChild(&current, &replacement);
}

} // namespace

struct ProgressScene::Impl
{
    osg::ref_ptr<osg::Group> root;
    osg::observer_ptr<osgViewer::View> view;
    ModelLoader loader;

    osg::ref_ptr<ProgressControl> control;

    osg::ref_ptr<osg::Group> panels;
    osg::ref_ptr<ScreenInfoLT> todayPanel;
    osg::ref_ptr<ScreenInfoLB> notesPanel;
    osg::ref_ptr<PendingTexts> texts;
    std::vector<osg::ref_ptr<osgGA::EventHandler>> legendHandlers;

    // The control's model, found under the control in the scene.
    static osg::Node* modelOf(ProgressControl& c) { return c.getNumChildren() > 0 ? c.getChild(0) : nullptr; }

    // Out of the scene with the model back in its place and shown plainly, so that a later
    // control (or none) starts from the model's own look.
    void detach(ProgressControl& c)
    {
        std::lock_guard<std::recursive_mutex> lock(c.mutex);
        c.onTodayText = nullptr;
        c.onNotesText = nullptr;
        c.stop();
        for (const auto& [wbs, task] : c.getTasks())
        {
            SolvoEarthUtil::setChildMasks(task.get(), 0xFFFFFFFF);
            SolvoEarthUtil::applyTint(task.get(), 0);
        }
        if (osg::ref_ptr<osg::Node> model = modelOf(c))
            replaceEverywhere(c, *model);
    }

    // In `sceneRoot` in place of its model, reporting to the panels, showing its date again.
    void attach(ProgressControl& c, osg::Group& sceneRoot)
    {
        osg::Node* model = modelOf(c);
        if (model && sceneRoot.containsNode(model))
            sceneRoot.replaceChild(model, &c);
        else if (!sceneRoot.containsNode(&c))
            sceneRoot.addChild(&c);

        showPanels();
        std::lock_guard<std::recursive_mutex> lock(c.mutex);
        osg::ref_ptr<PendingTexts> sink = texts;
        c.onTodayText = [sink](const std::string text) { sink->setToday(text); };
        c.onNotesText = [sink](const std::string text) { sink->setNotes(text); };
        c.setToday(c.getToday());
    }

    void showPanels()
    {
        if (panels)
            return;
        panels = new osg::Group;
        panels->setName(kPanelsName);
        todayPanel = new ScreenInfoLT;
        notesPanel = new ScreenInfoLB;
        texts = new PendingTexts;
        panels->addChild(todayPanel.get());
        panels->addChild(notesPanel.get());
        panels->setUpdateCallback(new ApplyTextsCallback(texts.get(), todayPanel.get(), notesPanel.get()));

        osg::ref_ptr<osgViewer::View> currentView;
        view.lock(currentView);
        // The legend installs a resize handler on the view; remember it so that clearing the
        // panels does not leave one handler behind per load.
        std::vector<osg::ref_ptr<osgGA::EventHandler>> before;
        if (currentView)
            before.assign(currentView->getEventHandlers().begin(), currentView->getEventHandlers().end());
        GraphicSymbol legend(currentView.get(), panels.get());
        // The control's false colours on a white part (see the tint shaders). Blue is also how
        // the plan-only and actual-only modes show every task under way.
        legend.createLabel("滞后 Late", osg::Vec4f(1.0f, 0.0f, 1.0f, 1.0f));
        legend.createLabel("提前 Early", osg::Vec4f(0.0f, 1.0f, 0.5f, 1.0f));
        legend.createLabel("正常 On time", osg::Vec4f(0.0f, 0.5f, 1.0f, 1.0f));
        if (currentView)
            for (const osg::ref_ptr<osgGA::EventHandler>& handler : currentView->getEventHandlers())
                if (std::find(before.begin(), before.end(), handler) == before.end())
                    legendHandlers.push_back(handler);

        root->addChild(panels.get());
    }

    void hidePanels()
    {
        if (!panels)
            return;
        const osg::Node::ParentList parents = panels->getParents();
        for (osg::Group* parent : parents)
            parent->removeChild(panels.get());
        osg::ref_ptr<osgViewer::View> currentView;
        if (view.lock(currentView))
            for (const osg::ref_ptr<osgGA::EventHandler>& handler : legendHandlers)
                currentView->removeEventHandler(handler.get());
        legendHandlers.clear();
        panels = nullptr;
        todayPanel = nullptr;
        notesPanel = nullptr;
        texts = nullptr;
    }
};

ProgressScene::ProgressScene(osg::Group* root, osgViewer::View* view, ModelLoader loader) : _impl(new Impl)
{
    _impl->root = root ? root : new osg::Group;
    _impl->view = view;
    _impl->loader = std::move(loader);
}

ProgressScene::~ProgressScene()
{
    clear();
}

std::string ProgressScene::readDocument(const std::string& textOrLocation)
{
    const size_t first = textOrLocation.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    if (textOrLocation[first] == '[' || textOrLocation[first] == '{')
        return textOrLocation;

    const std::string location = textOrLocation.substr(first);
    std::stringstream content;
    if (location.find("://") != std::string::npos)
    {
        SolvoEarthUtil::readwebjosnfile(location, content, nullptr);
    }
    else
    {
        std::ifstream file(location, std::ios::binary);
        if (!file)
        {
            OSG_WARN << "Progress: cannot open " << location << std::endl;
            return std::string();
        }
        content << file.rdbuf();
    }
    return content.str();
}

bool ProgressScene::holdsModel(const std::string& model) const
{
    return sceneRootOf(*_impl->root, model) != nullptr;
}

bool ProgressScene::load(const std::string& model, const std::string& tasks, const std::string& binding)
{
    return loadDocuments(model, readDocument(tasks), readDocument(binding));
}

bool ProgressScene::loadDocuments(const std::string& model, const std::string& taskList,
                                  const std::string& bindingDocument)
{
    Impl& impl = *_impl;
    osg::Group* sceneRoot = sceneRootOf(*impl.root, model);
    if (!sceneRoot && impl.loader && !model.empty())
        sceneRoot = impl.loader(model);
    if (!sceneRoot || sceneRoot->getNumChildren() == 0)
    {
        OSG_WARN << "Progress: no model \"" << model << "\"" << std::endl;
        return false;
    }
    // The earlier control goes first, so the new one styles the model from its own look; should
    // the new one be rejected, the earlier one comes back as it was and the answer is still false,
    // since the page asked for the new schedule.
    osg::ref_ptr<ProgressControl> earlier = impl.control;
    osg::ref_ptr<osg::Group> earlierSceneRoot;
    if (earlier)
    {
        if (!earlier->getParents().empty())
            earlierSceneRoot = earlier->getParent(0);
        impl.detach(*earlier);
    }

    // loadfile puts one model under each "Scene Root" group.
    osg::ref_ptr<osg::Node> modelNode = sceneRoot->getChild(0);
    osg::ref_ptr<ProgressControl> created = ProgressControl::create(modelNode.get(), taskList, bindingDocument, 3);
    if (!created)
    {
        OSG_WARN << "Progress: the task list or the binding of \"" << model << "\" was rejected" << std::endl;
        if (earlier && earlierSceneRoot)
            impl.attach(*earlier, *earlierSceneRoot);
        else
            impl.control = nullptr;
        return false;
    }
    impl.control = created;
    impl.attach(*created, *sceneRoot);
    return true;
}

bool ProgressScene::loadTasks(const std::string& tasks, int flags)
{
    return loadTaskDocument(readDocument(tasks), flags);
}

bool ProgressScene::loadTaskDocument(const std::string& taskList, int flags)
{
    osg::ref_ptr<ProgressControl> control = _impl->control;
    if (!control)
        return false;
    std::lock_guard<std::recursive_mutex> lock(control->mutex);
    if (!control->loadTasks(taskList, flags))
        return false;
    control->setToday(control->getToday());
    return true;
}

ProgressControl* ProgressScene::control() const
{
    return _impl->control.get();
}

bool ProgressScene::animating() const
{
    return (_impl->control.valid() && _impl->control->getState() == 1) ||
           (_impl->texts.valid() && _impl->texts->pending());
}

void ProgressScene::clear()
{
    if (osg::ref_ptr<ProgressControl> control = _impl->control)
    {
        _impl->detach(*control);
        _impl->control = nullptr;
    }
    _impl->hidePanels();
}
