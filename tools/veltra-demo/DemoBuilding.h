#pragma once

#include <osg/MatrixTransform>
#include <osg/Vec3>
#include <osg/Vec4>

#include <filesystem>
#include <string>
#include <vector>

namespace veltra::demo {

/// One element of the demo building: a box whose geode is named "<kind> [<id>]", the form the
/// progress simulation reads element ids from.
struct DemoPart
{
    int id = 0;
    std::string kind;  // "Column", "Wall", ...; also the start of the geode's name
    std::string group; // the sub-group holding it: "Foundations", "Storey 2", "Roof", "Temporary works"
    osg::Vec3 centre;
    osg::Vec3 size;
    osg::Vec4 colour;

    std::string nodeName() const { return kind + " [" + std::to_string(id) + "]"; }
};

/// One task of the demo schedule with the ids of the parts it builds (or, for the demolition
/// task, takes down). Dates are "YYYY-MM-DD".
struct DemoTask
{
    std::string wbs;
    std::string name;
    std::string notes;
    std::string type;
    std::string startP, finishP, startA, finishA;
    bool milestone = false;
    std::vector<int> ids;
};

/// A small multi-storey building with its construction schedule and the binding between the two,
/// always the same: foundations, storeys of columns, slabs and walls, a roof, and a tower crane
/// with scaffolding that is dismantled at the end. Some tasks finish late, some early, so every
/// tint of the plan-against-actual mode shows up.
class DemoBuilding
{
public:
    DemoBuilding();

    const std::vector<DemoPart>& parts() const { return _parts; }
    const std::vector<DemoTask>& tasks() const { return _tasks; }

    /// A fresh scene graph: a MatrixTransform named "Building" holding one group per
    /// sub-group name, lighting on, one coloured box geode per part.
    osg::ref_ptr<osg::MatrixTransform> model() const;

    /// The task list: a JSON array of task objects (wbs, name, notes, type, the four dates,
    /// milestone).
    std::string tasksJson() const;
    /// The binding: a JSON object from WBS code to the array of element ids.
    std::string bindingJson() const;

private:
    std::vector<DemoPart> _parts;
    std::vector<DemoTask> _tasks;
};

struct DemoFiles
{
    std::filesystem::path model;   // building.osgt
    std::filesystem::path tasks;   // tasks.json
    std::filesystem::path binding; // binding.json
};

/// Writes building.osgt, tasks.json and binding.json into `folder` (created when missing) and
/// returns their paths. Throws std::runtime_error naming the file that could not be written.
DemoFiles writeDemoBuilding(const std::filesystem::path& folder);

} // namespace veltra::demo
