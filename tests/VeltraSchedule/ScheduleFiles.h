#pragma once

#include <SolvoEarthKits/progress/ProgressControl.h>

#include <json/json.h>
#include <osg/Group>

#include <map>
#include <string>
#include <vector>

namespace veltra::test {

/// A small IFC4 model: storey "Level 1" (#2) containing the walls #10 "Basic Wall:Ext:138584" (element id
/// 138584) and #11 "Wall B" (11) and the slab #12 "Floor" (12); the column #13 (13) stands outside it. With
/// `withTasks`, its work schedule: "1" Structure (nests 1.1 and 1.2; assigned the storey), "1.1" Walls (the walls
/// assigned to it, actual dates, notes), "1.2" Floor (assigned the slab), "2" Handover (milestone), "3" Remove
/// column (demolition, assigned the column), planned in March 2024.
std::string smallIfc(bool withTasks);

/// A Microsoft Project XML document: project summary UID 0, "Shell" (summary, WBS 1), "Walls" (1.1, notes,
/// actual dates), "Floor" (WBS `floorWbs`, outline 1.2), "Roof" (1.2, no finish), "Handover" (2, milestone),
/// a blank row, "Paint" (3, an impossible start date).
std::string msProjectXml(const std::string& floorWbs);

/// The outcome of running the built veltra-schedule.
struct ProgramRun
{
    int exitCode = -1;
    std::string out;
    std::string err;
};
ProgramRun runScheduleProgram(const std::vector<std::string>& arguments);

std::string readText(const std::string& path);
Json::Value readJson(const std::string& path);

/// One geode per listed element of the IFC text, named as the IFC reader names its geometry node, keyed by
/// element id.
struct PlayedModel
{
    osg::ref_ptr<osg::Group> root;
    std::map<int, osg::Node*> geodes;
    osg::ref_ptr<ProgressControl> control;

    /// The element ids shown (node mask on) on `date` in `mode`, in ascending order.
    std::vector<int> shownOn(const std::string& date, int mode = 1);
};
PlayedModel playOn(const std::string& ifcText, const std::string& tasks, const std::string& binding);

} // namespace veltra::test
