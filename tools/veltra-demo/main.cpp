// Writes the demo site: a generated building with its schedule and binding, a page that drives
// the viewer through every group of its scripting methods, and a demo globe (an earth file over a
// world raster). Given a model, it writes the same page for a user's own project instead.
#include "veltra-demo/DemoSite.h"
#include "veltra-demo/ProjectSite.h"

#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

namespace {

const char* const kUsage =
    "usage: veltra-demo-site <out-folder> [--model FILE [--title TEXT] [--tasks TASKS.json --binding BINDING.json]]";

// The project options after the folder, or nothing when they do not make sense.
std::optional<veltra::demo::ProjectSiteOptions> parseProject(int argc, char** argv)
{
    veltra::demo::ProjectSiteOptions options;
    for (int i = 2; i < argc; i += 2)
    {
        if (i + 1 >= argc || argv[i + 1][0] == '\0')
            return std::nullopt;
        const std::string value = argv[i + 1];
        if (std::strcmp(argv[i], "--model") == 0)
            options.model = value;
        else if (std::strcmp(argv[i], "--title") == 0)
            options.title = value;
        else if (std::strcmp(argv[i], "--tasks") == 0)
            options.tasks = value;
        else if (std::strcmp(argv[i], "--binding") == 0)
            options.binding = value;
        else
            return std::nullopt;
    }
    if (options.model.empty() || options.tasks.empty() != options.binding.empty())
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '\0')
    {
        std::cerr << kUsage << std::endl;
        return 2;
    }
    std::optional<veltra::demo::ProjectSiteOptions> project;
    if (argc > 2 && !(project = parseProject(argc, argv)))
    {
        std::cerr << kUsage << std::endl;
        return 2;
    }
    try
    {
        if (project)
            veltra::demo::writeProjectSite(argv[1], *project);
        else
            veltra::demo::writeDemoSite(argv[1]);
    }
    catch (const std::exception& error)
    {
        std::cerr << "veltra-demo-site: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
