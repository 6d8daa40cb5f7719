#include <SolvoEarthKits/selection/MarkNodeHighLightVistor.h>
#include <SolvoEarthKits/selection/ModelSelector.h>
#include <SolvoEarthKits/selection/NodeMarkPseudoLoader.h>
#include <SolvoEarthUtil/loading/CacheWrites.h>

#include "NotifyCapture.h"
#include "OffscreenRender.h"
#include "ProgressFixtures.h"
#include "TempDir.h"
#include "ViewerHarness.h"

#include <osg/BlendColor>
#include <osg/BlendFunc>
#include <osg/PagedLOD>
#include <osgDB/FileCache>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using SolvoEarthUtil::MarkNodeHighLightVistor;
using namespace veltra::test;

namespace {

using Ids = std::vector<std::string>;

bool isMarked(const osg::Node* node)
{
    const osg::StateSet* stateSet = node->getStateSet();
    return stateSet && stateSet->getAttribute(osg::StateAttribute::PROGRAM);
}

// Options that hand `visitor` to the pseudo-loader.
osg::ref_ptr<osgDB::Options> optionsWith(MarkNodeHighLightVistor* visitor)
{
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setPluginData("HighLightVistor", visitor);
    return options;
}

// Writes `model` as `name` into `dir` and returns its path.
std::string writeModel(const TempDir& dir, const std::string& name, osg::Node& model)
{
    const std::string path = dir.file(name);
    EXPECT_TRUE(osgDB::writeNodeFile(model, path));
    return path;
}

} // namespace

TEST(ModelSelector, IdentifiersFollowTheNamingRules)
{
    osg::ref_ptr<ModelSelector> selector = new ModelSelector;
    for (const char* name : {"wall[1024]", "plain", "a[1]b[22]", "[]", "x:y:305", "]x[7", "[]:5"})
    {
        osg::ref_ptr<osg::Node> node = new osg::Node;
        node->setName(name);
        selector->pushHighLight(node.get());
    }
    EXPECT_EQ(selector->getSelects(), (Ids{"1024", "22", "305", "7", "5"}));
}

TEST(ModelSelector, HighlightsACopyAndPopGivesTheSavedStateSetBack)
{
    osg::ref_ptr<ModelSelector> selector = new ModelSelector;
    osg::ref_ptr<osg::Node> styled = new osg::Node;
    styled->setName("styled[1]");
    osg::ref_ptr<osg::StateSet> own = styled->getOrCreateStateSet();
    own->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    osg::ref_ptr<osg::Node> bare = new osg::Node;
    bare->setName("bare[2]");

    selector->pushHighLight(styled.get());
    selector->pushHighLight(bare.get());
    selector->pushHighLight(styled.get());
    selector->pushHighLight(nullptr);
    EXPECT_EQ(selector->getSelects(), (Ids{"1", "2"})) << "a node is stacked once";

    const osg::StateSet* lit = styled->getStateSet();
    ASSERT_NE(lit, own.get());
    EXPECT_EQ(own->getMode(GL_BLEND), osg::StateAttribute::INHERIT) << "the saved state set is left alone";
    EXPECT_EQ(lit->getMode(GL_LIGHTING), osg::StateAttribute::OFF) << "the highlight keeps the part's own state";
    const unsigned int on = osg::StateAttribute::ON | osg::StateAttribute::PROTECTED;
    EXPECT_EQ(lit->getMode(GL_BLEND), on);
    const auto* func = dynamic_cast<const osg::BlendFunc*>(lit->getAttribute(osg::StateAttribute::BLENDFUNC));
    ASSERT_NE(func, nullptr);
    EXPECT_EQ(func->getSource(), static_cast<GLenum>(GL_CONSTANT_COLOR));
    EXPECT_EQ(func->getDestination(), static_cast<GLenum>(GL_ONE_MINUS_CONSTANT_ALPHA));
    EXPECT_TRUE(lit->getAttributePair(osg::StateAttribute::BLENDFUNC)->second & osg::StateAttribute::PROTECTED);
    const auto* colour = dynamic_cast<const osg::BlendColor*>(lit->getAttribute(osg::StateAttribute::BLENDCOLOR));
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->getConstantColor(), osg::Vec4(1.0f, 1.0f, 1.0f, 0.5f));

    selector->clearHighLight();
    EXPECT_EQ(styled->getStateSet(), own.get());
    EXPECT_EQ(bare->getStateSet(), nullptr) << "a part without a state set has none again";
    EXPECT_TRUE(selector->getSelects().empty());
}

namespace {

// Three dark grey squares ("Wall [1]" to "Wall [3]") on a lighter background, so that the
// highlight (the part's colour plus half of the background) shows as a brighter part.
class ModelSelectorRender : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(harness.valid()) << harness.why();
        model = makeModel({"Wall [1]", "Wall [2]", "Wall [3]"});
        for (unsigned int i = 0; i < model->getNumChildren(); ++i)
        {
            osg::Geometry* quad = model->getChild(i)->asGeode()->getDrawable(0)->asGeometry();
            auto* colours = static_cast<osg::Vec4Array*>(quad->getColorArray());
            (*colours)[0] = osg::Vec4(0.2f, 0.2f, 0.2f, 1.0f);
        }
        harness.setScene(model.get());
        harness.lookAt(osg::Vec3d(1.75, -9.0, 0.5), osg::Vec3d(1.75, 0.0, 0.5), osg::Vec3d(0.0, 0.0, 1.0));
        harness.viewer().getCamera()->setClearColor(osg::Vec4(0.6f, 0.6f, 0.6f, 1.0f));
        harness.viewer().addEventHandler(selector.get());
        harness.frame();
    }

    static osg::Vec3d centreOf(int id) { return osg::Vec3d(0.5 + 1.5 * (id - 1), 0.0, 0.5); }

    osg::Vec4ub colourOf(const osg::Image& image, int id)
    {
        const osg::Vec2d window = harness.windowPosition(centreOf(id));
        return pixelAt(image, static_cast<int>(window.x()), harness.height() - 1 - static_cast<int>(window.y()));
    }

    ViewerHarness harness;
    osg::ref_ptr<osg::Group> model;
    osg::ref_ptr<ModelSelector> selector = new ModelSelector;
    const osg::Vec2d emptySpace{5.0, 5.0};
    const osg::Vec4ub plain{51, 51, 51, 255};
    const osg::Vec4ub bright{128, 128, 128, 255};
};

} // namespace

TEST_F(ModelSelectorRender, LeftPressSelectsRightPressUndoes)
{
    harness.click(centreOf(2));
    EXPECT_EQ(selector->getSelects(), (Ids{"2"}));
    harness.click(centreOf(2));
    EXPECT_EQ(selector->getSelects(), (Ids{"2"})) << "the same part twice stays one entry";
    harness.clickAt(emptySpace);
    EXPECT_EQ(selector->getSelects(), (Ids{"2"})) << "a press on empty space changes nothing";
    harness.click(centreOf(1));
    EXPECT_EQ(selector->getSelects(), (Ids{"2", "1"})) << "oldest selection first";

    osg::ref_ptr<osg::Image> image = harness.capture();
    ASSERT_TRUE(image.valid());
    EXPECT_TRUE(colourNear(colourOf(*image, 1), bright)) << describe(colourOf(*image, 1));
    EXPECT_TRUE(colourNear(colourOf(*image, 2), bright)) << describe(colourOf(*image, 2));
    EXPECT_TRUE(colourNear(colourOf(*image, 3), plain)) << describe(colourOf(*image, 3));

    harness.clickAt(emptySpace, osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON);
    EXPECT_EQ(selector->getSelects(), (Ids{"2"}));
    image = harness.capture();
    ASSERT_TRUE(image.valid());
    EXPECT_TRUE(colourNear(colourOf(*image, 1), plain)) << describe(colourOf(*image, 1));
    EXPECT_TRUE(colourNear(colourOf(*image, 2), bright)) << describe(colourOf(*image, 2));

    harness.click(centreOf(3), osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON);
    harness.click(centreOf(3), osgGA::GUIEventAdapter::RIGHT_MOUSE_BUTTON);
    EXPECT_TRUE(selector->getSelects().empty());
    EXPECT_EQ(geodeNamed(model.get(), "Wall [2]")->getStateSet(), nullptr);
}

TEST(MarkNodeHighLightVistor, MarksNamedGeodesAndRoutesPagedFilesOnce)
{
    osg::ref_ptr<osg::Group> model = makeModel({"A", "B", "C"});
    osg::ref_ptr<osg::PagedLOD> plod = new osg::PagedLOD;
    plod->setFileName(0, "part7.dat");
    plod->setFileName(1, "");
    plod->setFileName(2, "done.osgt.NodeMark");
    model->addChild(plod.get());

    MarkNodeHighLightVistor visitor;
    visitor.addHighlightNodeNames({"A"});
    visitor.addHighlightNodeNames({"B"});
    visitor.addHighlightNodeName("C");
    model->accept(visitor);
    model->accept(visitor);

    EXPECT_TRUE(visitor.found);
    EXPECT_FALSE(isMarked(geodeNamed(model.get(), "A"))) << "the second name set replaces the first";
    EXPECT_TRUE(isMarked(geodeNamed(model.get(), "B")));
    EXPECT_TRUE(isMarked(geodeNamed(model.get(), "C")));
    EXPECT_EQ(plod->getFileName(0), "part7.dat.nodemark");
    EXPECT_EQ(plod->getFileName(1), "");
    EXPECT_EQ(plod->getFileName(2), "done.osgt.NodeMark");
}

TEST(NodeMarkPseudoLoader, ReadsTheInnerFileAndMarksItWithTheOptionsVisitor)
{
    auto* loader =
        dynamic_cast<NodeMarkPseudoLoader*>(osgDB::Registry::instance()->getReaderWriterForExtension("nodemark"));
    ASSERT_NE(loader, nullptr) << "registered when the library loaded";
    EXPECT_TRUE(loader->acceptsExtension("NodeMark"));

    TempDir dir;
    const std::string path = writeModel(dir, "part.osgt", *makeModel({"Part [7]", "Part [8]"}));
    MarkNodeHighLightVistor visitor;
    visitor.addHighlightNodeName("Part [7]");

    EXPECT_EQ(loader->readNode(path, optionsWith(&visitor).get()).status(),
              osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED);
    EXPECT_EQ(loader->readNode(dir.file("absent.osgt.nodemark"), optionsWith(&visitor).get()).status(),
              osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE);

    osg::ref_ptr<osg::Node> unmarked = osgDB::readRefNodeFile(path + ".nodemark");
    ASSERT_TRUE(unmarked.valid()) << "no options: read, not marked";
    EXPECT_FALSE(isMarked(geodeNamed(unmarked->asGroup(), "Part [7]")));

    // With a file cache the part is read once and cached under its own name.
    TempDir cacheDir;
    osg::ref_ptr<osgDB::FileCache> cache = new osgDB::FileCache(cacheDir.path().string());
    osgDB::Registry::instance()->setFileCache(cache.get());
    NotifyCapture log(osg::NOTICE);
    osg::ref_ptr<osg::Node> marked = osgDB::readRefNodeFile(path + ".nodemark", optionsWith(&visitor).get());
    osgDB::Registry::instance()->setFileCache(nullptr);
    ASSERT_TRUE(marked.valid());
    SolvoEarthUtil::waitForCacheWrites(); // the cache is written beside the load
    EXPECT_TRUE(cache->existsInCache(path));
    EXPECT_TRUE(isMarked(geodeNamed(marked->asGroup(), "Part [7]")));
    EXPECT_FALSE(isMarked(geodeNamed(marked->asGroup(), "Part [8]")));
    EXPECT_TRUE(log.contains(path + ".nodemark load node MarkNodeHighLightVistor"));
}

// Several pager threads load parts at once with the one visitor of the read options.
TEST(NodeMarkThreads, OverlappingLoadsShareTheVisitor)
{
    TempDir dir;
    constexpr int kParts = 8;
    MarkNodeHighLightVistor visitor;
    for (int i = 0; i < kParts; ++i)
    {
        const std::string name = "Part [" + std::to_string(i) + "]";
        writeModel(dir, "part" + std::to_string(i) + ".osgt", *makeModel({name, "other"}));
        visitor.addHighlightNodeName(name);
    }
    osg::ref_ptr<osgDB::Options> options = optionsWith(&visitor);

    std::vector<osg::ref_ptr<osg::Node>> parts(kParts);
    std::vector<std::thread> threads;
    for (int i = 0; i < kParts; ++i)
        threads.emplace_back([&, i] {
            parts[i] = osgDB::readRefNodeFile(dir.file("part" + std::to_string(i) + ".osgt.nodemark"), options.get());
        });
    for (std::thread& thread : threads)
        thread.join();

    for (int i = 0; i < kParts; ++i)
    {
        ASSERT_TRUE(parts[i].valid()) << i;
        EXPECT_TRUE(isMarked(parts[i]->asGroup()->getChild(0))) << i;
        EXPECT_FALSE(isMarked(parts[i]->asGroup()->getChild(1))) << i;
    }
    EXPECT_TRUE(visitor.found);
}

namespace {

// Runs frames until `plod` has a child, for at most 20 seconds.
bool framesUntilLoaded(ViewerHarness& harness, const osg::PagedLOD& plod)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (plod.getNumChildren() == 0 && std::chrono::steady_clock::now() < deadline)
    {
        harness.frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return plod.getNumChildren() > 0;
}

} // namespace

// Parts paged in by the viewer's database pager arrive marked, down to the parts paged in below
// them.
TEST(NodeMarkRender, PagedPartsArriveMarkedAtEveryDepth)
{
    ViewerHarness harness;
    ASSERT_TRUE(harness.valid()) << harness.why();
    TempDir dir;

    // part.osgt: two squares at x = 0 and 1.5 and a paged node for deeper.osgt, one square at x = 3.
    osg::ref_ptr<osg::Group> deeper = makeModel({"", "", "Part [9]"});
    deeper->removeChildren(0, 2);
    writeModel(dir, "deeper.osgt", *deeper);
    osg::ref_ptr<osg::Group> part = makeModel({"Part [7]", "Part [8]"});
    osg::ref_ptr<osg::PagedLOD> nested = new osg::PagedLOD;
    nested->setFileName(0, "deeper.osgt");
    nested->setRange(0, 0.0f, 1e7f);
    part->addChild(nested.get());
    const std::string partPath = writeModel(dir, "part.osgt", *part);

    MarkNodeHighLightVistor visitor;
    visitor.addHighlightNodeNames({"Part [7]", "Part [9]"});
    osg::ref_ptr<osg::PagedLOD> plod = new osg::PagedLOD;
    plod->setFileName(0, partPath);
    plod->setRange(0, 0.0f, 1e7f);
    plod->setDatabaseOptions(optionsWith(&visitor).get());
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(plod.get());
    scene->accept(visitor); // the host marks the loaded scene
    EXPECT_EQ(plod->getFileName(0), partPath + ".nodemark");

    harness.setScene(scene.get());
    harness.lookAt(osg::Vec3d(1.75, -9.0, 0.5), osg::Vec3d(1.75, 0.0, 0.5), osg::Vec3d(0.0, 0.0, 1.0));
    ASSERT_TRUE(framesUntilLoaded(harness, *plod)) << "the pager loads the part";
    auto* loaded = plod->getChild(0)->asGroup();
    ASSERT_NE(loaded, nullptr);
    auto* loadedNested = dynamic_cast<osg::PagedLOD*>(loaded->getChild(2));
    ASSERT_NE(loadedNested, nullptr);
    EXPECT_EQ(loadedNested->getFileName(0), "deeper.osgt.nodemark");
    ASSERT_TRUE(framesUntilLoaded(harness, *loadedNested)) << "the pager loads the part below";

    EXPECT_TRUE(isMarked(geodeNamed(loaded, "Part [7]")));
    EXPECT_FALSE(isMarked(geodeNamed(loaded, "Part [8]")));
    EXPECT_TRUE(isMarked(geodeNamed(loadedNested->getChild(0)->asGroup(), "Part [9]")));

    scene->accept(visitor); // marking again adds no second suffix
    EXPECT_EQ(plod->getFileName(0), partPath + ".nodemark");
    EXPECT_EQ(loadedNested->getFileName(0), "deeper.osgt.nodemark");

    // A marked part shows the highlight colour (1, 0, 0.5) blended half over the black
    // background; the other part stays white.
    osg::ref_ptr<osg::Image> image = harness.capture();
    ASSERT_TRUE(image.valid());
    auto colourAt = [&](double x) {
        const osg::Vec2d window = harness.windowPosition(osg::Vec3d(x, 0.0, 0.5));
        return pixelAt(*image, static_cast<int>(window.x()), harness.height() - 1 - static_cast<int>(window.y()));
    };
    const osg::Vec4ub magenta(128, 0, 64, 255);
    EXPECT_TRUE(colourNear(colourAt(0.5), magenta)) << describe(colourAt(0.5));
    EXPECT_TRUE(colourNear(colourAt(2.0), osg::Vec4ub(255, 255, 255, 255))) << describe(colourAt(2.0));
    EXPECT_TRUE(colourNear(colourAt(3.5), magenta)) << describe(colourAt(3.5));
}
