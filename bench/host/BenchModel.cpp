// Writes the model and schedule that bench/host/frame-bench.mjs drives the viewer with: a block of N
// boxes, one geode named "Element [k]" (k = 1..N) per part, in OpenSceneGraph's text and binary
// formats, and a schedule of T tasks over one year, each task bound to one consecutive slice of the
// elements, with planned and actual dates apart so that plan-against-actual shows every tint.
//
//   veltra-bench-model <out-folder> [--parts N] [--tasks T]
//
// Files: bench-model.osgt, bench-model.osgb, bench-tasks.json, bench-binding.json.
#include "veltra-demo/DemoDates.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osg/MatrixTransform>
#include <osgDB/WriteFile>

#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

// The schedule's year; the bench reads the range back from the viewer, so this is the only copy.
constexpr int kYear = 2025;
constexpr int kDays = 365;
constexpr float kSpacing = 2.0f; // grid pitch in metres; boxes are 1.5 m wide

// The normals of a box (four per face), the same for every box: one array shared by all of them,
// which the files then hold once.
osg::ref_ptr<osg::Vec3Array> boxNormals()
{
    static const float kNormals[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array;
    for (const auto& normal : kNormals)
        normals->insert(normals->end(), 4, osg::Vec3(normal[0], normal[1], normal[2]));
    return normals;
}

// A box of 24 vertices (four per face, so each face has its own normal) drawn as quads; `normals`
// and `colour` (an overall colour) may be shared.
osg::ref_ptr<osg::Geode> boxGeode(int id, const osg::Vec3& centre, const osg::Vec3& half, osg::Vec3Array* normals,
                                  osg::Vec4Array* colour)
{
    static const float kFaces[6][4][3] = {
        {{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}}, {{-1, 1, -1}, {-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1}},
        {{1, 1, -1}, {-1, 1, -1}, {-1, 1, 1}, {1, 1, 1}}, {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}},
        {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}}, {{-1, 1, -1}, {1, 1, -1}, {1, -1, -1}, {-1, -1, -1}}};

    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (const auto& face : kFaces)
        for (const auto& corner : face)
            vertices->push_back(centre + osg::Vec3(corner[0] * half.x(), corner[1] * half.y(), corner[2] * half.z()));

    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->setNormalArray(normals, osg::Array::BIND_PER_VERTEX);
    geometry->setColorArray(colour, osg::Array::BIND_OVERALL);
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 24));

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName("Element [" + std::to_string(id) + "]");
    geode->addDrawable(geometry.get());
    return geode;
}

// A block of levels, each a square grid of boxes with one group per level, filled level by level so
// that the schedule builds it from the ground up. Roughly a cube, so that the home view fills the
// picture; colours vary so that the picture has structure for the eye.
osg::ref_ptr<osg::MatrixTransform> model(int parts)
{
    const int side = std::max(1, int(std::ceil(std::cbrt(double(parts)))));
    const int perLevel = side * side;
    osg::ref_ptr<osg::MatrixTransform> root = new osg::MatrixTransform;
    root->setName("Bench model");
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setColorMode(osg::Material::AMBIENT_AND_DIFFUSE);
    root->getOrCreateStateSet()->setAttributeAndModes(material.get(), osg::StateAttribute::ON);
    root->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::ON);

    const osg::ref_ptr<osg::Vec3Array> normals = boxNormals();
    osg::ref_ptr<osg::Vec4Array> colours[4];
    for (int shade = 0; shade < 4; ++shade)
    {
        const float grey = 0.45f + 0.1f * float(shade);
        colours[shade] = new osg::Vec4Array;
        colours[shade]->push_back(osg::Vec4(grey, grey * 0.9f, 0.7f, 1.0f));
    }

    osg::ref_ptr<osg::Group> level;
    for (int k = 1; k <= parts; ++k)
    {
        const int index = k - 1;
        const int inLevel = index % perLevel;
        if (inLevel == 0)
        {
            level = new osg::Group;
            level->setName("Level " + std::to_string(index / perLevel + 1));
            root->addChild(level.get());
        }
        const osg::Vec3 centre(float(inLevel % side), float(inLevel / side), float(index / perLevel));
        level->addChild(
            boxGeode(k, centre * kSpacing, osg::Vec3(0.75f, 0.75f, 0.75f), normals.get(), colours[index % 4].get())
                .get());
    }
    return root;
}

std::string day(int offset)
{
    return veltra::demo::civilDateAfter(kYear, 1, 1, std::clamp(offset, 0, kDays - 1));
}

// Task i starts at a steady pace through the year and lasts 10 to 34 days; the actual dates slip
// by -3..+3 days at the start and -4..+6 at the finish.
void schedule(int parts, int taskCount, Json::Value& tasks, Json::Value& binding)
{
    tasks = Json::Value(Json::arrayValue);
    binding = Json::Value(Json::objectValue);
    for (int i = 0; i < taskCount; ++i)
    {
        const int start = i * (kDays - 35) / taskCount;
        const int finish = start + 10 + (i * 7) % 25;
        const int startA = start + (i % 7) - 3;
        const int finishA = std::max(startA, finish + (i % 11) - 4);
        const std::string wbs = std::to_string(i + 1);
        Json::Value task(Json::objectValue);
        task["wbs"] = wbs;
        task["name"] = "Task " + wbs;
        task["startP"] = day(start);
        task["finishP"] = day(finish);
        task["startA"] = day(startA);
        task["finishA"] = day(finishA);
        task["notes"] = i % 25 == 0 ? "Inspection of slice " + wbs : "";
        task["type"] = "construction";
        tasks.append(task);

        Json::Value ids(Json::arrayValue);
        const long long first = 1 + (long long)i * parts / taskCount;
        const long long last = (long long)(i + 1) * parts / taskCount;
        for (long long id = first; id <= last; ++id)
            ids.append(Json::Int(id));
        binding[wbs] = ids;
    }
}

void writeJson(const std::filesystem::path& path, const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << Json::writeString(builder, value) << "\n";
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

int positiveOption(int argc, char** argv, const std::string& name, int fallback)
{
    for (int i = 2; i + 1 < argc; ++i)
        if (argv[i] == name)
        {
            const int value = std::atoi(argv[i + 1]);
            if (value <= 0)
                throw std::runtime_error(name + " needs a positive number");
            return value;
        }
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-' || argc % 2 != 0)
    {
        std::cerr << "usage: veltra-bench-model <out-folder> [--parts N] [--tasks T]" << std::endl;
        return 2;
    }
    try
    {
        const std::filesystem::path folder = argv[1];
        const int parts = positiveOption(argc, argv, "--parts", 10000);
        const int taskCount = std::min(parts, positiveOption(argc, argv, "--tasks", 500));
        std::filesystem::create_directories(folder);

        const osg::ref_ptr<osg::MatrixTransform> root = model(parts);
        for (const char* name : {"bench-model.osgt", "bench-model.osgb"})
            if (!osgDB::writeNodeFile(*root, (folder / name).string()))
                throw std::runtime_error("cannot write " + (folder / name).string());
        Json::Value tasks;
        Json::Value binding;
        schedule(parts, taskCount, tasks, binding);
        writeJson(folder / "bench-tasks.json", tasks);
        writeJson(folder / "bench-binding.json", binding);
    }
    catch (const std::exception& error)
    {
        std::cerr << "veltra-bench-model: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
