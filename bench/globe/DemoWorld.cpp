#include "globe/DemoWorld.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace veltra::bench {

namespace {

// Owns the folder for the life of the process.
class DemoWorldFolder
{
public:
    DemoWorldFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "veltra-globe-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
        {
            throw std::runtime_error("cannot create a temporary folder for the demo globe");
        }
        _folder = pattern;
        files = veltra::demo::writeDemoGlobe(_folder);
    }
    ~DemoWorldFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(_folder, ignored);
    }
    DemoWorldFolder(const DemoWorldFolder&) = delete;
    DemoWorldFolder& operator=(const DemoWorldFolder&) = delete;

    veltra::demo::DemoGlobeFiles files;

private:
    std::filesystem::path _folder;
};

} // namespace

const veltra::demo::DemoGlobeFiles& demoWorld()
{
    static DemoWorldFolder world;
    return world.files;
}

const char* demoWorldSourceName()
{
    return demoWorld().source == veltra::demo::WorldRasterSource::Photograph ? "photograph" : "generated";
}

} // namespace veltra::bench
