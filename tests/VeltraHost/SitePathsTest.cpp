#include "site/ContentTypes.h"
#include "site/SitePaths.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

using namespace veltra::host;
using Outcome = SiteLookup::Outcome;

namespace {

class SitePathsTest : public ::testing::Test
{
protected:
    SitePathsTest()
    {
        temp.write("site/index.html", "home");
        temp.write("site/models/index.html", "models");
        temp.write("site/models/tower.osgt", "model");
        temp.write("site/empty/.keep", "");
        temp.write("site2/secret.txt", "sibling");
        temp.write("outside.txt", "outside");
    }

    std::filesystem::path site() const { return temp.path() / "site"; }
    Outcome outcomeOf(const std::string& target) const { return SitePaths(site()).resolve(target).outcome; }

    veltra::test::TempDir temp;
};

} // namespace

TEST_F(SitePathsTest, FoldersLeadToTheirIndexAndQueriesAreIgnored)
{
    const SitePaths paths(site());
    EXPECT_EQ(paths.resolve("/").file.filename(), "index.html");
    EXPECT_EQ(paths.resolve("/models").file, paths.root() / "models/index.html");
    EXPECT_EQ(paths.resolve("/models/?view=1").file, paths.root() / "models/index.html");

    const SiteLookup model = paths.resolve("/models/tower%2Eosgt?x=1#top");
    ASSERT_TRUE(model.found());
    EXPECT_EQ(model.file, paths.root() / "models/tower.osgt");
    EXPECT_EQ(model.contentType, "application/octet-stream");
}

TEST_F(SitePathsTest, MissingFilesAndFoldersWithoutIndexAreNotFound)
{
    EXPECT_EQ(outcomeOf("/nothing.html"), Outcome::NotFound);
    EXPECT_EQ(outcomeOf("/empty/"), Outcome::NotFound);
    EXPECT_EQ(outcomeOf("/index.html/"), Outcome::NotFound);
}

TEST_F(SitePathsTest, TraversalAndOddCharactersAreForbidden)
{
    for (const char* target : {"/../outside.txt", "/models/../../outside.txt", "/%2e%2e/outside.txt",
                               "/models/%2E%2E/%2e%2e/outside.txt", "/..%2foutside.txt", "/a%5c..%5coutside.txt",
                               "/index.html%00.png", "/%zz", "/%2", "outside.txt", "http://127.0.0.1/index.html"})
        EXPECT_EQ(outcomeOf(target), Outcome::Forbidden) << target;
    // Decoded once only: a doubly encoded dot is a literal file name, which does not exist.
    EXPECT_EQ(outcomeOf("/%252e%252e/outside.txt"), Outcome::NotFound);
    // An absolute-looking path stays inside the site.
    EXPECT_EQ(outcomeOf("//etc/passwd"), Outcome::NotFound);
}

TEST_F(SitePathsTest, SymbolicLinksMustStayInsideTheRealSite)
{
    std::filesystem::create_symlink(temp.path() / "outside.txt", site() / "out.txt");
    std::filesystem::create_directory_symlink(temp.path(), site() / "up");
    // Same name prefix as the site folder, so a plain string comparison would let it through.
    std::filesystem::create_symlink(temp.path() / "site2/secret.txt", site() / "sibling.txt");
    std::filesystem::create_symlink(site() / "models/tower.osgt", site() / "tower.osgt");

    EXPECT_EQ(outcomeOf("/out.txt"), Outcome::Forbidden);
    EXPECT_EQ(outcomeOf("/up/outside.txt"), Outcome::Forbidden);
    EXPECT_EQ(outcomeOf("/sibling.txt"), Outcome::Forbidden);
    EXPECT_EQ(outcomeOf("/tower.osgt"), Outcome::Found);
}

TEST_F(SitePathsTest, TheSiteFolderItselfMayBeReachedThroughALink)
{
    std::filesystem::create_directory_symlink(site(), temp.path() / "current");
    const SitePaths paths(temp.path() / "current");
    EXPECT_TRUE(paths.resolve("/models/tower.osgt").found());
    EXPECT_THROW(SitePaths(temp.path() / "missing"), std::invalid_argument);
    EXPECT_THROW(SitePaths(temp.path() / "outside.txt"), std::invalid_argument);
}

TEST(SiteContentTypes, ChosenByExtensionInAnyCase)
{
    EXPECT_EQ(contentTypeFor("a/index.HTML"), "text/html; charset=utf-8");
    EXPECT_EQ(contentTypeFor("app.js"), "text/javascript; charset=utf-8");
    EXPECT_EQ(contentTypeFor("style.css"), "text/css; charset=utf-8");
    EXPECT_EQ(contentTypeFor("tasks.json"), "application/json");
    EXPECT_EQ(contentTypeFor("a.png"), "image/png");
    EXPECT_EQ(contentTypeFor("a.JPG"), "image/jpeg");
    EXPECT_EQ(contentTypeFor("icon.svg"), "image/svg+xml");
    for (const char* file : {"m.osgt", "m.osgb", "m.ive", "noextension", "archive.tar.gz"})
        EXPECT_EQ(contentTypeFor(file), "application/octet-stream") << file;
}
