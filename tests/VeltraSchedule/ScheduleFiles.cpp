#include "ScheduleFiles.h"

#include "BuildOutputs.h"
#include "TempDir.h"

#include <VeltraIfc/IfcDocument.h>
#include <VeltraIfc/IfcElements.h>

#include <osg/Geode>

#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace veltra::test {

namespace {

const char* const IfcHeader = "ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION((''),'2;1');\n"
                              "FILE_NAME('small.ifc','2024-01-01T00:00:00',(''),(''),'','','');\n"
                              "FILE_SCHEMA(('IFC4'));\nENDSEC;\nDATA;\n";

const char* const IfcModel =
    "#1=IFCPROJECT('0VeltraProject00000001',$,'Schedule test',$,$,$,$,$,$);\n"
    "#2=IFCBUILDINGSTOREY('0VeltraStorey000000002',$,'Level 1',$,$,$,$,$,.ELEMENT.,0.);\n"
    "#3=IFCRELAGGREGATES('0VeltraAggregates00003',$,$,$,#1,(#2));\n"
    "#10=IFCWALL('0VeltraWall00000000010',$,'Basic Wall:Ext:138584',$,$,$,$,$,.STANDARD.);\n"
    "#11=IFCWALL('0VeltraWall00000000011',$,'Wall B',$,$,$,$,$,.STANDARD.);\n"
    "#12=IFCSLAB('0VeltraSlab00000000012',$,'Floor',$,$,$,$,$,.FLOOR.);\n"
    "#13=IFCCOLUMN('0VeltraColumn000000013',$,'Column',$,$,$,$,$,.COLUMN.);\n"
    "#14=IFCRELCONTAINEDINSPATIALSTRUCTURE('0VeltraContains000014',$,$,$,(#10,#11,#12),#2);\n";

const char* const IfcTasks =
    "#20=IFCTASKTIME($,$,$,$,$,'2024-03-01T08:00:00','2024-03-10T17:00:00',$,$,$,$,$,$,$,$,$,$,$,$,$);\n"
    "#21=IFCTASK('0VeltraTask00000000021',$,'Structure',$,$,'1',$,$,$,.F.,$,#20,.CONSTRUCTION.);\n"
    "#22=IFCTASKTIME($,$,$,$,$,$,$,'2024-03-01T08:00:00','2024-03-03T17:00:00',$,$,$,$,$,$,$,"
    "'2024-03-02T08:00:00','2024-03-04T17:00:00',$,$);\n"
    "#23=IFCTASK('0VeltraTask00000000023',$,'Walls','Outer walls',$,'1.1','Brick, two layers',$,$,.F.,$,#22,$);\n"
    "#24=IFCTASKTIME($,$,$,$,$,'2024-03-04T08:00:00','2024-03-05T17:00:00',$,$,$,$,$,$,$,$,$,$,$,$,$);\n"
    "#25=IFCTASK('0VeltraTask00000000025',$,'Floor',$,$,'1.2',$,$,$,.F.,$,#24,$);\n"
    "#26=IFCTASKTIME($,$,$,$,$,'2024-03-10T08:00:00','2024-03-10T08:00:00',$,$,$,$,$,$,$,$,$,$,$,$,$);\n"
    "#27=IFCTASK('0VeltraTask00000000027',$,'Handover',$,$,'2',$,$,$,.T.,$,#26,$);\n"
    "#28=IFCTASKTIME($,$,$,$,$,'2024-03-06T08:00:00','2024-03-07T17:00:00',$,$,$,$,$,$,$,$,$,$,$,$,$);\n"
    "#29=IFCTASK('0VeltraTask00000000029',$,'Remove column',$,$,'3',$,$,$,.F.,$,#28,.DEMOLITION.);\n"
    "#30=IFCRELNESTS('0VeltraNests0000000030',$,$,$,#21,(#23,#25));\n"
    "#31=IFCRELASSIGNSTOPRODUCT('0VeltraToProduct000031',$,$,$,(#21),$,#2);\n"
    "#32=IFCRELASSIGNSTOPROCESS('0VeltraToProcess000032',$,$,$,(#10,#11),$,#23,$);\n"
    "#33=IFCRELASSIGNSTOPRODUCT('0VeltraToProduct000033',$,$,$,(#25),$,#12);\n"
    "#34=IFCRELASSIGNSTOPROCESS('0VeltraToProcess000034',$,$,$,(#13),$,#29,$);\n";

std::string msTask(const std::string& fields)
{
    return "<Task>" + fields + "</Task>";
}

std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

std::string smallIfc(bool withTasks)
{
    return std::string(IfcHeader) + IfcModel + (withTasks ? IfcTasks : "") + "ENDSEC;\nEND-ISO-10303-21;\n";
}

std::string msProjectXml(const std::string& floorWbs)
{
    const std::string dates = "<Start>2024-03-01T08:00:00</Start><Finish>2024-03-03T17:00:00</Finish>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Project xmlns=\"http://schemas.microsoft.com/project\"><Name>Test</Name><Tasks>" +
           msTask("<UID>0</UID><ID>0</ID><Name>Test</Name><Summary>1</Summary>" + dates) +
           msTask("<UID>1</UID><ID>1</ID><Name>Shell</Name><WBS>1</WBS><OutlineNumber>1</OutlineNumber>"
                  "<Summary>1</Summary><Start>2024-03-01T08:00:00</Start><Finish>2024-03-10T17:00:00</Finish>") +
           msTask("<UID>2</UID><ID>2</ID><Name>Walls</Name><WBS>1.1</WBS><OutlineNumber>1.1</OutlineNumber>" + dates +
                  "<ActualStart>2024-03-02T08:00:00</ActualStart><ActualFinish>2024-03-04T17:00:00</ActualFinish>"
                  "<Notes>Outer walls &amp; doors\n  &lt;north&gt; </Notes>") +
           msTask("<UID>3</UID><ID>3</ID><Name>Floor</Name><WBS>" + floorWbs +
                  "</WBS><OutlineNumber>1.2</OutlineNumber><Start>2024-03-04T08:00:00</Start>"
                  "<Finish>2024-03-05T17:00:00</Finish>") +
           msTask("<UID>4</UID><ID>4</ID><Name>Roof</Name><WBS>1.2</WBS><OutlineNumber>1.3</OutlineNumber>"
                  "<Start>2024-03-05T08:00:00</Start>") +
           msTask("<UID>5</UID><ID>5</ID><Name>Handover</Name><WBS>2</WBS><OutlineNumber>2</OutlineNumber>"
                  "<Milestone>1</Milestone><Start>2024-03-10T08:00:00</Start><Finish>2024-03-10T08:00:00</Finish>") +
           msTask("<UID>6</UID><ID>6</ID><OutlineNumber>3</OutlineNumber>") +
           msTask("<UID>7</UID><ID>7</ID><Name>Paint</Name><WBS>3</WBS><OutlineNumber>4</OutlineNumber>"
                  "<Start>2024-02-30T08:00:00</Start><Finish>2024-03-12T17:00:00</Finish>") +
           "</Tasks></Project>\n";
}

ProgramRun runScheduleProgram(const std::vector<std::string>& arguments)
{
    TempDir folder;
    std::string command = shellQuoted(builtProgram("veltra-schedule"));
    for (const std::string& argument : arguments)
        command += " " + shellQuoted(argument);
    command += " >" + shellQuoted(folder.file("out")) + " 2>" + shellQuoted(folder.file("err"));
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readText(folder.file("out"));
    run.err = readText(folder.file("err"));
    return run;
}

std::string readText(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

Json::Value readJson(const std::string& path)
{
    Json::Value value;
    std::istringstream stream(readText(path));
    Json::CharReaderBuilder builder;
    std::string errors;
    Json::parseFromStream(builder, stream, &value, &errors);
    return value;
}

std::vector<int> PlayedModel::shownOn(const std::string& date, int mode)
{
    control->setMode(mode);
    control->setToday(date);
    std::vector<int> shown;
    for (const auto& [id, geode] : geodes)
        if (geode->getNodeMask() != 0)
            shown.push_back(id);
    return shown;
}

PlayedModel playOn(const std::string& ifcText, const std::string& tasks, const std::string& binding)
{
    PlayedModel played;
    played.root = new osg::Group;
    const ifc::IfcDocument document = ifc::IfcDocument::parse(ifcText, "played.ifc");
    for (const ifc::BuildingElement& element : ifc::listElements(document))
    {
        osg::ref_ptr<osg::Geode> geode = new osg::Geode;
        geode->setName(element.nodeName);
        played.root->addChild(geode.get());
        played.geodes[element.elementId] = geode.get();
    }
    played.control = ProgressControl::create(played.root.get(), tasks, binding, 3, false);
    return played;
}

} // namespace veltra::test
