#include "../SolvoEarthKits/ProgressFixtures.h"
#include "OffscreenRender.h"
#include "TempDir.h"
#include "VirtualDisplay.h"

#include <Zir/ProgressScene.h>

#include <SolvoEarthKits/hud/ScreenInfoLB.h>
#include <SolvoEarthKits/hud/ScreenInfoLT.h>

#include <osgUtil/UpdateVisitor>
#include <osgViewer/Viewer>
#include <osgWidget/WindowManager>

#include <gtest/gtest.h>

using namespace veltra::test;

namespace {

const char* const kModel = "building.osgt";

// Finds the first node of type T anywhere below a node.
template <typename T>
class FindFirst : public osg::NodeVisitor
{
public:
    FindFirst() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Node& node) override
    {
        if (!found)
            found = dynamic_cast<T*>(&node);
        traverse(node);
    }
    T* found = nullptr;
};

template <typename T>
T* findFirst(osg::Node* scene)
{
    FindFirst<T> finder;
    scene->accept(finder);
    return finder.found;
}

std::string panelText(ScreenInfo* panel)
{
    if (!panel)
        return "<no panel>";
    return panel->text()->getText().createUTF8EncodedString();
}

// Two tasks over a row of two parts: "1" in early January, "2" in mid January.
class ProgressSceneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        viewer->getCamera()->setViewport(0, 0, 640, 360);
        viewer->setSceneData(root.get());
        sceneRoot->setName("Scene Root");
        sceneRoot->setUserValue("fileName", std::string(kModel));
        sceneRoot->addChild(model.get());
        root->addChild(sceneRoot.get());
        TaskSpec first("1", "2024-01-01", "2024-01-10");
        first.notes = "pour slab";
        tasks = taskList({first, TaskSpec("2", "2024-01-11", "2024-01-20")});
    }

    ProgressScene makeScene()
    {
        return ProgressScene(root.get(), viewer.get(), [this](const std::string& path) -> osg::Group* {
            ++loads;
            if (path != "other.osgt")
                return nullptr;
            osg::ref_ptr<osg::Group> group = new osg::Group;
            group->setName("Scene Root");
            group->setUserValue("fileName", path);
            group->addChild(makeModel({"Beam [1]"}).get());
            root->addChild(group.get());
            return group.get();
        });
    }

    void update()
    {
        osgUtil::UpdateVisitor visitor;
        root->accept(visitor);
    }

    osg::Node* part(const std::string& name) { return geodeNamed(model.get(), name); }

    osg::ref_ptr<osg::Group> root = new osg::Group;
    osg::ref_ptr<osgViewer::Viewer> viewer = new osgViewer::Viewer;
    osg::ref_ptr<osg::Group> sceneRoot = new osg::Group;
    osg::ref_ptr<osg::Group> model = makeModel({"Slab [1]", "Wall [2]"});
    std::string tasks;
    const std::string binding = bindingOf({{"1", {1}}, {"2", {2}}});
    int loads = 0;
};

} // namespace

TEST_F(ProgressSceneTest, LoadPutsTheControlInTheModelsPlaceAndShowsThePanels)
{
    const size_t handlersBefore = viewer->getEventHandlers().size();
    ProgressScene scene = makeScene();
    ASSERT_TRUE(scene.load(kModel, "  \n" + tasks, binding));
    EXPECT_EQ(loads, 0);

    ProgressControl* control = scene.control();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(sceneRoot->getChild(0), control);
    EXPECT_EQ(control->getChild(0), model.get());
    ASSERT_EQ(control->getTasks().size(), 2u);

    EXPECT_NE(findFirst<osgWidget::WindowManager>(root.get()), nullptr);
    EXPECT_GT(viewer->getEventHandlers().size(), handlersBefore);
    update();
    EXPECT_EQ(panelText(findFirst<ScreenInfoLT>(root.get())).rfind("当前日期: 2024-01-20", 0), 0u);
}

TEST_F(ProgressSceneTest, DateChangesReachThePanelsAtTheNextUpdate)
{
    ProgressScene scene = makeScene();
    ASSERT_TRUE(scene.load(kModel, tasks, binding));
    update();
    scene.control()->setToday("2024-01-05");

    ScreenInfoLT* today = findFirst<ScreenInfoLT>(root.get());
    ScreenInfoLB* notes = findFirst<ScreenInfoLB>(root.get());
    EXPECT_EQ(panelText(today).find("2024-01-05"), std::string::npos);
    update();
    EXPECT_NE(panelText(today).find("2024-01-05"), std::string::npos);
    EXPECT_NE(panelText(notes).find("pour slab"), std::string::npos);
}

TEST_F(ProgressSceneTest, DocumentsAreReadFromFilesAndUnknownModelsThroughTheLoader)
{
    TempDir folder;
    ProgressScene scene = makeScene();
    const std::string tasksFile = folder.write("tasks.json", taskList({TaskSpec("9", "2024-02-01", "2024-02-02")}));
    const std::string bindingFile = folder.write("binding.json", bindingOf({{"9", {1}}}));

    ASSERT_TRUE(scene.load("other.osgt", " " + tasksFile, bindingFile));
    EXPECT_EQ(loads, 1);
    ASSERT_EQ(scene.control()->getTasks().size(), 1u);
    EXPECT_EQ(scene.control()->getParent(0)->getName(), "Scene Root");

    EXPECT_FALSE(scene.load("missing.osgt", tasks, binding));
    EXPECT_FALSE(scene.load(kModel, folder.file("absent.json"), binding));
}

TEST_F(ProgressSceneTest, ARejectedLoadKeepsTheEarlierControlInPlace)
{
    ProgressScene scene = makeScene();
    ASSERT_TRUE(scene.load(kModel, tasks, binding));
    ProgressControl* earlier = scene.control();
    earlier->setToday("2024-01-05");
    ASSERT_TRUE(hidden(part("Wall [2]")));

    EXPECT_FALSE(scene.load(kModel, "[{\"wbs\": ", binding));
    EXPECT_FALSE(scene.load(kModel, tasks, "[1, 2]"));
    EXPECT_EQ(scene.control(), earlier);
    EXPECT_EQ(sceneRoot->getChild(0), earlier);
    EXPECT_EQ(earlier->getChild(0), model.get());
    EXPECT_EQ(earlier->getToday(), "2024-01-05");
    EXPECT_TRUE(hidden(part("Wall [2]")));
}

TEST_F(ProgressSceneTest, ANewLoadReplacesTheControlAndStartsFromThePlainModel)
{
    ProgressScene scene = makeScene();
    ASSERT_TRUE(scene.load(kModel, tasks, binding));
    scene.control()->setToday("2024-01-05");
    ASSERT_TRUE(hidden(part("Wall [2]")));

    // The new schedule binds only the slab, so the wall must come back plain.
    ASSERT_TRUE(scene.load(kModel, taskList({TaskSpec("1", "2024-01-01", "2024-01-10")}), bindingOf({{"1", {1}}})));
    EXPECT_EQ(sceneRoot->getNumChildren(), 1u);
    EXPECT_EQ(sceneRoot->getChild(0), scene.control());
    EXPECT_EQ(scene.control()->getChild(0), model.get());
    EXPECT_TRUE(shown(part("Wall [2]")));
    EXPECT_EQ(tintOf(part("Wall [2]")), 0);

    unsigned int panelGroups = 0;
    for (unsigned int i = 0; i < root->getNumChildren(); ++i)
        panelGroups += findFirst<ScreenInfoLT>(root->getChild(i)) != nullptr;
    EXPECT_EQ(panelGroups, 1u);
}

TEST_F(ProgressSceneTest, LoadTasksRereadsTheScheduleAndShowsTheDateAgain)
{
    ProgressScene scene = makeScene();
    EXPECT_FALSE(scene.loadTasks(tasks, 3));
    ASSERT_TRUE(scene.load(kModel, tasks, binding));
    scene.control()->setToday("2024-01-05");
    ASSERT_TRUE(hidden(part("Wall [2]")));

    // The wall's task moves before today: it shows at once, finished and untinted.
    EXPECT_TRUE(scene.loadTasks(taskList({TaskSpec("2", "2024-01-02", "2024-01-03")}), 1));
    EXPECT_TRUE(shown(part("Wall [2]")));
    EXPECT_EQ(tintOf(part("Wall [2]")), 0);

    EXPECT_FALSE(scene.loadTasks("{\"not\": \"a list\"}", 3));
    EXPECT_FALSE(scene.loadTasks("", 3));
}

TEST_F(ProgressSceneTest, ClearPutsThePlainModelBackAndRemovesThePanels)
{
    const size_t handlersBefore = viewer->getEventHandlers().size();
    const unsigned int childrenBefore = root->getNumChildren();
    ProgressScene scene = makeScene();
    ASSERT_TRUE(scene.load(kModel, tasks, binding));
    scene.control()->setToday("2024-01-05");

    scene.clear();
    EXPECT_EQ(scene.control(), nullptr);
    EXPECT_EQ(sceneRoot->getChild(0), model.get());
    EXPECT_TRUE(shown(part("Wall [2]")));
    EXPECT_EQ(tintOf(part("Slab [1]")), 0);
    EXPECT_EQ(root->getNumChildren(), childrenBefore);
    EXPECT_EQ(viewer->getEventHandlers().size(), handlersBefore);
    scene.clear();

    ASSERT_TRUE(scene.load(kModel, tasks, binding));
    EXPECT_EQ(sceneRoot->getChild(0), scene.control());
}

class ProgressSceneRenderTest : public ProgressSceneTest
{};

// Light panel letters: the panels draw near-white text on a dark box.
bool isPanelText(const osg::Vec4ub& p)
{
    return p.r() > 170 && p.g() > 170 && p.b() > 170;
}

// The height in rows of the topmost line of panel letters in columns [x0, x1): from the first row
// from the top that holds letters to the last before a gap of two rows without any.
int firstLineRows(const osg::Image& image, int x0, int x1)
{
    int first = -1;
    int last = -1;
    for (int y = image.t() - 1; y >= 0 && (last < 0 || last - y <= 2); --y)
    {
        bool letters = false;
        for (int x = x0; x < x1 && !letters; ++x)
            letters = isPanelText(pixelAt(image, x, y));
        if (letters)
        {
            first = first < 0 ? y : first;
            last = y;
        }
    }
    return first < 0 ? 0 : first - last + 1;
}

TEST_F(ProgressSceneRenderTest, DrawsTheDateAndTheLegendReadablyAtEverySize)
{
    std::string why;
    if (!ensureDisplay(&why))
        GTEST_SKIP() << why;
    // The date panel's first line ("当前日期: ...") is one line of text: its height follows the
    // window's (a thirtieth, at least 14 pixels), and it stands on a dark box over a light scene.
    struct Case
    {
        int width, height, minRows, maxRows;
    };
    for (const Case& c : {Case{640, 360, 10, 15}, Case{960, 600, 15, 21}, Case{1920, 1080, 27, 37}})
    {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        viewer->getCamera()->setViewport(0, 0, c.width, c.height);
        ProgressScene scene = makeScene();
        ASSERT_TRUE(scene.load(kModel, taskList({TaskSpec("1", "2024-01-01", "2024-01-10")}), bindingOf({{"1", {1}}})));
        update();

        osg::ref_ptr<osg::Image> image = renderOffscreen(
            root.get(), c.width, c.height,
            [](osg::Camera& camera) { camera.setClearColor(osg::Vec4(0.55f, 0.6f, 0.7f, 1.0f)); }, &why);
        if (!image)
            GTEST_SKIP() << why;
        const int rows = firstLineRows(*image, 0, c.width / 2);
        EXPECT_GE(rows, c.minRows) << "date text too small";
        EXPECT_LE(rows, c.maxRows) << "date text too large";
        // Behind the letters, the box is dark against the light clear colour.
        int dark = 0;
        for (int x = 0; x < c.width / 4; ++x)
        {
            const osg::Vec4ub p = pixelAt(*image, x, c.height - 10);
            dark += p.r() < 90 && p.g() < 90 && p.b() < 110;
        }
        EXPECT_GT(dark, c.width / 16) << "no dark box behind the date: "
                                      << describe(pixelAt(*image, 20, c.height - 10));

        int magenta = 0;
        for (int y = 0; y < c.height / 3; ++y)
            for (int x = c.width / 2; x < c.width; ++x)
                magenta += colourNear(pixelAt(*image, x, y), osg::Vec4ub(255, 0, 255, 255), 40);
        EXPECT_GT(magenta, 0) << "no legend at the bottom right";
        scene.clear();
    }
}
