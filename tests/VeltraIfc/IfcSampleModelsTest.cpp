// Real models from the shared data folder (skipped when it is absent): element ids, structure
// and size of what the reader makes of them.
#include "SceneQueries.h"
#include "SharedData.h"

#include <SolvoEarthKits/progress/NodeId.h>
#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcElements.h>

#include <osg/ComputeBoundsVisitor>
#include <osg/MatrixTransform>
#include <osgDB/FileNameUtils>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

using namespace veltra::test;
using veltra::ifc::BuildingElement;

namespace {

enum class IdRule
{
    RevitIdsInNames, // "Family:Type:138584": the name's id is kept
    StepIds,         // plain names: "<Name> [<#id>]"
};

struct SampleModel
{
    const char* file;
    size_t storeys;
    IdRule ids;
    float minExtent; // metres, the larger horizontal side of the whole model
    float maxExtent;
    bool windowsHaveOwnShape = true; // IfcOpenHouse draws its windows as aggregated members and plates
};

std::ostream& operator<<(std::ostream& out, const SampleModel& model)
{
    return out << model.file;
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool isWallDoorOrWindow(const std::string& ifcClass)
{
    return ifcClass.rfind("IfcWall", 0) == 0 || ifcClass == "IfcDoor" || ifcClass == "IfcWindow";
}

class IfcSampleModels : public ::testing::TestWithParam<SampleModel>
{
protected:
    void SetUp() override
    {
        path = sharedDataFile(GetParam().file);
        if (path.empty())
            GTEST_SKIP() << "shared data file " << GetParam().file << " is absent";
        osgDB::ReaderWriter::ReadResult result = readModelFile(path);
        ASSERT_TRUE(result.validNode()) << result.message();
        model = result.getNode();
        const auto document = veltra::ifc::IfcDocument::parse(readWhole(path), path);
        projectName = document.projectName();
        elements = veltra::ifc::listElements(document);
    }

    std::string path;
    osg::ref_ptr<osg::Node> model;
    std::string projectName;
    std::vector<BuildingElement> elements;
};

} // namespace

TEST_P(IfcSampleModels, TopIsNamedAfterTheProjectWithStoreyGroups)
{
    auto* top = dynamic_cast<osg::MatrixTransform*>(model.get());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->getName(), projectName.empty() ? osgDB::getStrippedName(path) : projectName);
    SceneIndex index(*model);
    const auto& storeys = index.groupsOfClass["IfcBuildingStorey"];
    EXPECT_EQ(storeys.size(), GetParam().storeys);
    for (const osg::Group* storey : storeys)
        EXPECT_FALSE(userText(*storey, "globalId").empty());
    EXPECT_GT(index.geodeCount, 0u);
}

TEST_P(IfcSampleModels, GeodesAreTheListedElementsWithTheirIds)
{
    SceneIndex index(*model);
    std::set<std::string> listed;
    for (const BuildingElement& element : elements)
    {
        listed.insert(element.nodeName);
        const auto geode = index.geodes.find(element.nodeName);
        if (isWallDoorOrWindow(element.ifcClass) && (GetParam().windowsHaveOwnShape || element.ifcClass != "IfcWindow"))
        {
            EXPECT_NE(geode, index.geodes.end()) << element.nodeName << " has no geode";
        }
        if (geode == index.geodes.end())
            continue;
        EXPECT_EQ(SolvoEarthUtil::nodeIdFromName(element.nodeName), element.elementId) << element.nodeName;
        EXPECT_EQ(userText(*geode->second, "globalId"), element.globalId);
        EXPECT_EQ(userText(*geode->second, "ifcClass"), element.ifcClass);
        EXPECT_EQ(userText(*geode->second, "name"), element.name);
        if (GetParam().ids == IdRule::StepIds)
        {
            EXPECT_EQ(element.elementId, element.stepId) << element.nodeName;
        }
        else if (isWallDoorOrWindow(element.ifcClass))
        {
            EXPECT_EQ(std::to_string(element.elementId), element.name.substr(element.name.rfind(':') + 1))
                << element.nodeName;
        }
    }
    for (const auto& [name, geode] : index.geodes)
        EXPECT_EQ(listed.count(name), 1u) << name << " is not a listed element";
    EXPECT_EQ(index.geodes.size(), index.geodeCount) << "node names are unique";
}

TEST_P(IfcSampleModels, SizeIsInMetres)
{
    osg::ComputeBoundsVisitor bounds;
    model->accept(bounds);
    const osg::BoundingBox& box = bounds.getBoundingBox();
    const float extent = std::max(box.xMax() - box.xMin(), box.yMax() - box.yMin());
    EXPECT_GE(extent, GetParam().minExtent);
    EXPECT_LE(extent, GetParam().maxExtent);
    EXPECT_LT(box.zMax() - box.zMin(), 30.0f) << "houses, Z up";
}

INSTANTIATE_TEST_SUITE_P(Shared, IfcSampleModels,
                         ::testing::Values(SampleModel{"ifc/Duplex_A_20110907.ifc", 4, IdRule::RevitIdsInNames, 10, 40},
                                           SampleModel{"ifc/AC20-FZK-Haus.ifc", 2, IdRule::StepIds, 8, 40},
                                           SampleModel{"ifc/AC14-FZK-Haus.ifc", 2, IdRule::StepIds, 8, 40},
                                           SampleModel{"ifc/IfcOpenHouse_IFC4.ifc", 1, IdRule::StepIds, 5, 40, false},
                                           SampleModel{"schedule/construction_scheduling_task_IFC4.ifc", 1,
                                                       IdRule::StepIds, 3, 100}));

TEST(IfcDuplex, NamedElementsKeepTheirRevitIds)
{
    VELTRA_SHARED_DATA_OR_SKIP(path, "ifc/Duplex_A_20110907.ifc");
    osgDB::ReaderWriter::ReadResult result = readModelFile(path);
    ASSERT_TRUE(result.validNode()) << result.message();
    SceneIndex index(*result.getNode());
    std::map<int, std::string> classOfId;
    for (const auto& [name, geode] : index.geodes)
        classOfId[SolvoEarthUtil::nodeIdFromName(name)] = userText(*geode, "ifcClass");
    EXPECT_EQ(classOfId[146596], "IfcDoor");
    EXPECT_EQ(classOfId[138584].rfind("IfcWall", 0), 0u) << classOfId[138584];
}
