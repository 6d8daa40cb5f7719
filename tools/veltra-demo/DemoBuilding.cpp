#include "veltra-demo/DemoBuilding.h"

#include "veltra-demo/DemoLayout.h"

#include <osg/Geode>
#include <osg/LightModel>
#include <osg/Material>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

#include <json/value.h>
#include <json/writer.h>

#include <fstream>
#include <map>
#include <stdexcept>

namespace veltra::demo {

namespace {

// The box colour drives the lit colour (colour material), so every kind keeps its own colour
// under lighting and the progress tints, which read the lit colour, still tell kinds apart.
osg::ref_ptr<osg::Material> colourMaterial()
{
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setColorMode(osg::Material::AMBIENT_AND_DIFFUSE);
    material->setSpecular(osg::Material::FRONT_AND_BACK, osg::Vec4(0.15f, 0.15f, 0.15f, 1.0f));
    material->setShininess(osg::Material::FRONT_AND_BACK, 16.0f);
    return material;
}

osg::ref_ptr<osg::Geode> partGeode(const DemoPart& part)
{
    osg::ref_ptr<osg::ShapeDrawable> box =
        new osg::ShapeDrawable(new osg::Box(part.centre, part.size.x(), part.size.y(), part.size.z()));
    box->setColor(part.colour);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName(part.nodeName());
    geode->addDrawable(box.get());
    return geode;
}

std::string writeJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value) + "\n";
}

void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

DemoBuilding::DemoBuilding() : _parts(demoParts()), _tasks(demoSchedule(_parts))
{}

osg::ref_ptr<osg::MatrixTransform> DemoBuilding::model() const
{
    osg::ref_ptr<osg::MatrixTransform> building = new osg::MatrixTransform;
    building->setName("Building");
    osg::StateSet* state = building->getOrCreateStateSet();
    state->setMode(GL_LIGHTING, osg::StateAttribute::ON);
    state->setAttributeAndModes(colourMaterial().get(), osg::StateAttribute::ON);
    // Tinted parts are drawn without depth testing, so their far faces show through; lighting
    // both sides keeps those faces as bright as the near ones.
    osg::ref_ptr<osg::LightModel> lightModel = new osg::LightModel;
    lightModel->setTwoSided(true);
    state->setAttributeAndModes(lightModel.get(), osg::StateAttribute::ON);

    // Groups in the order parts first name them, so the file reads foundations to roof.
    std::map<std::string, osg::ref_ptr<osg::Group>> groups;
    for (const DemoPart& part : _parts)
    {
        osg::ref_ptr<osg::Group>& group = groups[part.group];
        if (!group)
        {
            group = new osg::Group;
            group->setName(part.group);
            building->addChild(group.get());
        }
        group->addChild(partGeode(part).get());
    }
    return building;
}

std::string DemoBuilding::tasksJson() const
{
    Json::Value list(Json::arrayValue);
    for (const DemoTask& task : _tasks)
    {
        Json::Value item(Json::objectValue);
        item["wbs"] = task.wbs;
        item["name"] = task.name;
        item["startP"] = task.startP;
        item["finishP"] = task.finishP;
        item["startA"] = task.startA;
        item["finishA"] = task.finishA;
        item["notes"] = task.notes;
        item["type"] = task.type;
        if (task.milestone)
            item["milestone"] = true;
        list.append(item);
    }
    return writeJson(list);
}

std::string DemoBuilding::bindingJson() const
{
    Json::Value binding(Json::objectValue);
    for (const DemoTask& task : _tasks)
    {
        Json::Value ids(Json::arrayValue);
        for (int id : task.ids)
            ids.append(id);
        binding[task.wbs] = ids;
    }
    return writeJson(binding);
}

DemoFiles writeDemoBuilding(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + folder.string() + ": " + error.message());

    const DemoBuilding building;
    DemoFiles files{folder / "building.osgt", folder / "tasks.json", folder / "binding.json"};
    if (!osgDB::writeNodeFile(*building.model(), files.model.string()))
        throw std::runtime_error("cannot write " + files.model.string());
    writeText(files.tasks, building.tasksJson());
    writeText(files.binding, building.bindingJson());
    return files;
}

} // namespace veltra::demo
