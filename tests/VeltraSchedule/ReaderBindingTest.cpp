// The schedule importer and the IFC reader agree on element ids: a plan whose link table names the
// Duplex apartment's walls, doors and windows by GlobalId plays on the model the reader makes.
#include "ScheduleFiles.h"

#include "SharedData.h"
#include "TempDir.h"

#include <SolvoEarthUtil/loading/BundledReaders.h>
#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcElements.h>

#include <osg/Geode>
#include <osg/NodeVisitor>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

namespace {

struct Trade
{
    const char* wbs;
    const char* name;
    const char* start;
    const char* finish;
    const char* classPrefix; // the IFC classes its elements belong to
};

const Trade kTrades[] = {
    {"1", "Walls", "2011-01-03", "2011-01-07", "IfcWall"},
    {"2", "Doors", "2011-01-10", "2011-01-14", "IfcDoor"},
    {"3", "Windows", "2011-01-17", "2011-01-21", "IfcWindow"},
};

std::string planOfTrades()
{
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Project xmlns=\"http://schemas.microsoft.com/project\"><Name>Duplex</Name><Tasks>\n";
    for (const Trade& trade : kTrades)
        xml << "<Task><UID>" << trade.wbs << "</UID><ID>" << trade.wbs << "</ID><Name>" << trade.name << "</Name><WBS>"
            << trade.wbs << "</WBS><OutlineNumber>" << trade.wbs << "</OutlineNumber><OutlineLevel>1</OutlineLevel>"
            << "<Start>" << trade.start << "T08:00:00</Start><Finish>" << trade.finish << "T17:00:00</Finish></Task>\n";
    xml << "</Tasks></Project>\n";
    return xml.str();
}

const Trade* tradeOf(const std::string& ifcClass)
{
    for (const Trade& trade : kTrades)
        if (ifcClass.rfind(trade.classPrefix, 0) == 0)
            return &trade;
    return nullptr;
}

class GeodesByName : public osg::NodeVisitor
{
public:
    GeodesByName() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Geode& geode) override { found[geode.getName()] = &geode; }
    std::map<std::string, osg::Geode*> found;
};

TEST(ReaderBinding, DuplexWallsDoorsAndWindowsPlayOnTheReadersModel)
{
    VELTRA_SHARED_DATA_OR_SKIP(duplex, "ifc/Duplex_A_20110907.ifc");
    SolvoEarthUtil::useBundledReaders();
    osg::ref_ptr<osg::Node> model = osgDB::readRefNodeFile(duplex);
    ASSERT_TRUE(model) << "the IFC reader plug-in did not read " << duplex;
    GeodesByName geodes;
    model->accept(geodes);

    // The link table names every wall, door and window by GlobalId only; the importer finds ids.
    veltra::test::TempDir folder;
    std::string links = "WBS,GUID\n";
    std::map<std::string, std::vector<osg::Geode*>> built; // by WBS
    const auto document = veltra::ifc::IfcDocument::parse(veltra::test::readText(duplex), duplex);
    for (const veltra::ifc::BuildingElement& element : veltra::ifc::listElements(document))
    {
        const Trade* trade = tradeOf(element.ifcClass);
        if (!trade)
            continue;
        links += std::string(trade->wbs) + "," + element.globalId + "\n";
        const auto geode = geodes.found.find(element.nodeName);
        ASSERT_NE(geode, geodes.found.end()) << element.nodeName;
        built[trade->wbs].push_back(geode->second);
    }
    EXPECT_EQ(built["1"].size(), 57u);
    EXPECT_EQ(built["2"].size(), 14u);
    EXPECT_EQ(built["3"].size(), 24u);

    const std::string out = folder.file("schedule");
    const auto run = veltra::test::runScheduleProgram({"--plan", folder.write("plan.xml", planOfTrades()), "--links",
                                                       folder.write("links.csv", links), "--link-task", "WBS",
                                                       "--model", duplex, "--out", out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("rows linked: 95\n"), std::string::npos) << run.out;

    osg::ref_ptr<ProgressControl> control = ProgressControl::create(
        model.get(), veltra::test::readText(out + "/tasks.json"), veltra::test::readText(out + "/binding.json"), 3,
        false);
    ASSERT_TRUE(control);
    // Plan mode: a trade's elements appear on its first day and stay.
    const std::pair<const char*, std::vector<const char*>> days[] = {
        {"2011-01-03", {"1"}}, {"2011-01-12", {"1", "2"}}, {"2011-01-21", {"1", "2", "3"}}};
    for (const auto& [day, standing] : days)
    {
        control->setMode(1);
        control->setToday(day);
        for (const Trade& trade : kTrades)
        {
            const bool expected = std::find_if(standing.begin(), standing.end(), [&](const char* wbs) {
                                      return std::string(wbs) == trade.wbs;
                                  }) != standing.end();
            for (osg::Geode* geode : built[trade.wbs])
                EXPECT_EQ(geode->getNodeMask() != 0, expected) << day << " " << geode->getName();
        }
    }
}

} // namespace
