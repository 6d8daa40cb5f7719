#include "veltra-demo/DemoBuilding.h"

#include <SolvoEarthKits/progress/NodeId.h>
#include <SolvoEarthKits/progress/ProgressControl.h>

#include "BuildOutputs.h"
#include "TempDir.h"

#include <osg/Geode>
#include <osg/NodeVisitor>
#include <osgDB/ReadFile>

#include <json/reader.h>
#include <json/value.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using veltra::demo::DemoBuilding;

struct GeodeNames : public osg::NodeVisitor
{
    GeodeNames() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Geode& geode) override { names.push_back(geode.getName()); }
    std::vector<std::string> names;
};

std::vector<std::string> geodeNames(osg::Node& root)
{
    GeodeNames visitor;
    root.accept(visitor);
    return visitor.names;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Json::Value parseJson(const std::string& text)
{
    Json::Value value;
    std::string errors;
    std::istringstream in(text);
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &value, &errors)) << errors;
    return value;
}

TEST(DemoBuilding, ModelWritesAndReadsBack)
{
    veltra::test::TempDir folder;
    const veltra::demo::DemoFiles files = veltra::demo::writeDemoBuilding(folder.path() / "out");
    const osg::ref_ptr<osg::Node> model = osgDB::readRefNodeFile(files.model.string());
    ASSERT_TRUE(model.valid());
    EXPECT_EQ(model->getName(), "Building");
    EXPECT_NE(dynamic_cast<osg::MatrixTransform*>(model.get()), nullptr);
    EXPECT_EQ(geodeNames(*model).size(), DemoBuilding().parts().size());

    EXPECT_EQ(readFile(files.tasks.string()), DemoBuilding().tasksJson());
    EXPECT_EQ(readFile(files.binding.string()), DemoBuilding().bindingJson());
}

TEST(DemoBuilding, EveryPartCarriesAnIdAndEveryBoundIdIsInTheModelOnce)
{
    const DemoBuilding building;
    std::map<int, int> partsById;
    const std::vector<std::string> names = geodeNames(*building.model());
    for (const std::string& name : names)
    {
        const int id = SolvoEarthUtil::nodeIdFromName(name);
        EXPECT_NE(id, -1) << name;
        ++partsById[id];
    }
    EXPECT_EQ(partsById.size(), names.size()) << "two parts share an id";

    const Json::Value binding = parseJson(building.bindingJson());
    ASSERT_TRUE(binding.isObject());
    ASSERT_EQ(binding.size(), building.tasks().size());
    for (const std::string& wbs : binding.getMemberNames())
    {
        ASSERT_FALSE(binding[wbs].empty()) << wbs;
        for (const Json::Value& id : binding[wbs])
            EXPECT_EQ(partsById[id.asInt()], 1) << wbs << " binds " << id.asInt();
    }
}

TEST(DemoBuilding, ScheduleDrivesTheSimulationOverEveryTask)
{
    const DemoBuilding building;
    osg::ref_ptr<ProgressControl> control =
        ProgressControl::create(building.model().get(), building.tasksJson(), building.bindingJson(), 3);
    ASSERT_TRUE(control.valid());
    ASSERT_EQ(control->getTasks().size(), building.tasks().size());

    int late = 0, early = 0, demolitions = 0, milestones = 0;
    for (const auto& [wbs, task] : control->getTasks())
    {
        EXPECT_FALSE(task->startP().empty() || task->finishP().empty() || task->startA().empty() ||
                     task->finishA().empty())
            << wbs;
        EXPECT_LE(task->startP(), task->finishP()) << wbs;
        EXPECT_LE(task->startA(), task->finishA()) << wbs;
        late += task->finishA() > task->finishP();
        early += task->finishA() < task->finishP();
        demolitions += task->isDemolition;
        milestones += task->milestone;
    }
    EXPECT_GE(late, 1);
    EXPECT_GE(early, 1);
    EXPECT_EQ(demolitions, 1);
    EXPECT_EQ(milestones, 1);
}

TEST(DemoBuilding, SiteProgramWritesThePage)
{
    veltra::test::TempDir folder;
    const std::string site = folder.file("site");
    const std::string program = veltra::test::builtProgram(VELTRA_DEMO_SITE_PROGRAM);
    ASSERT_EQ(std::system(("'" + program + "' '" + site + "'").c_str()), 0);

    const std::string page = readFile(site + "/index.html");
    EXPECT_NE(page.find("<title>Veltra demo</title>"), std::string::npos);
    EXPECT_NE(page.find("<script src=\"/veltra.js\"></script>"), std::string::npos);
    EXPECT_NE(page.find("<object id=\"plugin\" type=\"application/x-veltra\" width=\"960\" height=\"600\">"),
              std::string::npos);
    EXPECT_NE(page.find("<param name=\"onload\" value=\"pluginLoaded\">"), std::string::npos);
    for (const char* file : {"demo.js", "demo.css", "building.osgt", "tasks.json", "binding.json", "sky/posZ.jpg"})
        EXPECT_TRUE(std::filesystem::is_regular_file(site + "/" + file)) << file;

    // Without an output folder it says how to call it instead of writing anywhere.
    EXPECT_NE(std::system(("'" + program + "' 2>/dev/null").c_str()), 0);
}

} // namespace
