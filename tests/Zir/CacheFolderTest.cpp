#include "ScopedEnv.h"
#include "TempDir.h"

#include <Zir/osgMainApp.h>

#include <osgDB/FileCache>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace veltra::test;

namespace {

std::string cachePath()
{
    osgDB::FileCache* cache = osgDB::Registry::instance()->getFileCache();
    return cache ? cache->getFileCachePath() : "<no cache>";
}

} // namespace

// VELTRA_CACHE_DIR keeps a project's downloads in the project: it wins over the plug-in's folder,
// and when it cannot be written nothing is cached rather than falling back to the user's cache.
TEST(CacheFolderVariable, NamedFolderWinsAndIsNeverReplacedByAnother)
{
    TempDir plugin;
    TempDir user;
    TempDir project;
    const std::string blocked = plugin.write("not-a-folder", "x") + "/cache";
    struct Case
    {
        std::optional<std::string> variable;
        std::string expected;
    };
    const Case cases[] = {
        {project.file("veltra-cache"), project.file("veltra-cache")},
        {blocked, "<no cache>"},
        {std::string(), plugin.file("veltra-cache")}, // empty: as if unset
        {std::nullopt, plugin.file("veltra-cache")},
    };
    veltra::test::ScopedEnv xdg("XDG_CACHE_HOME", user.path().string());
    for (const Case& c : cases)
    {
        veltra::test::ScopedEnv named("VELTRA_CACHE_DIR", c.variable);
        osgMainApp app;
        app.setCachePath(plugin.path().string() + "/");
        EXPECT_EQ(cachePath(), c.expected) << "VELTRA_CACHE_DIR=" << c.variable.value_or("(unset)");
    }
    EXPECT_TRUE(std::filesystem::is_directory(project.file("veltra-cache")));
    EXPECT_TRUE(std::filesystem::is_empty(user.path())) << "nothing went to the user's cache";
    osgDB::Registry::instance()->setFileCache(nullptr);
}
