#include "veltra-demo/ProjectSite.h"

#include "veltra-demo/DemoSite.h"

#include <json/json.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace veltra::demo {

namespace {

namespace fs = std::filesystem;

// Files the page itself lives on: a model of the same name would replace one of them.
const char* const kSiteFiles[] = {"index.html",   "demo.css",       "demo.js", "project.json", "tasks.json",
                                  "binding.json", "background.png", "sky",     "veltra-cache"};

std::string describe(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value) + "\n";
}

void requireFile(const fs::path& path, const char* what)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        throw std::runtime_error(std::string("the ") + what + " " + path.string() + " is not a readable file");
}

// `target` gets the contents of `source`: nothing to do when both name one file (the schedule
// converter writes straight into the project folder, and a model may already live there).
void placeFile(const fs::path& source, const fs::path& target)
{
    std::error_code error;
    if (fs::exists(target, error) && fs::equivalent(source, target, error))
        return;
    fs::remove(target, error);
    fs::create_hard_link(source, target, error);
    if (!error)
        return;
    if (!fs::copy_file(source, target, fs::copy_options::overwrite_existing, error))
        throw std::runtime_error("cannot copy " + source.string() + " to " + target.string() + ": " + error.message());
}

} // namespace

std::string demoProjectDescription()
{
    Json::Value project(Json::objectValue);
    project["kind"] = "demo";
    project["title"] = "Veltra demo";
    project["model"] = "building.osgt";
    project["modelNode"] = "Building";
    project["tasks"] = "tasks.json";
    project["binding"] = "binding.json";
    project["mode"] = 3;
    return describe(project);
}

void writeProjectSite(const fs::path& folder, const ProjectSiteOptions& options)
{
    requireFile(options.model, "model");
    const bool scheduled = !options.tasks.empty();
    if (scheduled != !options.binding.empty())
        throw std::runtime_error("a schedule needs both a task list and a binding");
    if (scheduled)
    {
        requireFile(options.tasks, "task list");
        requireFile(options.binding, "binding");
    }
    const std::string modelName = options.model.filename().string();
    if (std::find(std::begin(kSiteFiles), std::end(kSiteFiles), modelName) != std::end(kSiteFiles))
        throw std::runtime_error("the model's file name " + modelName + " is one of the site's own files; rename it");

    writePageFiles(folder);
    placeFile(options.model, folder / modelName);

    Json::Value project(Json::objectValue);
    project["kind"] = "project";
    project["title"] = options.title.empty() ? options.model.stem().string() : options.title;
    project["model"] = modelName;
    // The page then shows and hides parts below whatever model node it finds first.
    project["modelNode"] = "";
    // A plan seldom carries actual dates, so the plan is what plays.
    project["mode"] = 1;
    if (scheduled)
    {
        placeFile(options.tasks, folder / "tasks.json");
        placeFile(options.binding, folder / "binding.json");
        project["tasks"] = "tasks.json";
        project["binding"] = "binding.json";
    }
    writeTextFile(folder / "project.json", describe(project));
}

} // namespace veltra::demo
