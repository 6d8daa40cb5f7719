#include "veltra-demo/DemoGlobe.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace veltra::demo {

namespace {

std::string viewpointElement(const DemoPlace& place)
{
    char line[256];
    std::snprintf(line, sizeof line,
                  "            <viewpoint name=\"%s\" long=\"%.4f\" lat=\"%.4f\" height=\"0\" heading=\"%.1f\" "
                  "pitch=\"%.1f\" range=\"%.0f\"/>\n",
                  place.name.c_str(), place.longitude, place.latitude, place.heading, place.pitch, place.range);
    return line;
}

} // namespace

const std::vector<DemoPlace>& demoPlaces()
{
    // The globe range keeps the whole disc inside a 30-degree field of view (the viewer's default) with a margin.
    static const std::vector<DemoPlace> places = {
        {"World", 10.0, 25.0, 0.0, -89.0, 2.2e7},
        {"Paris", 2.3522, 48.8566, 0.0, -45.0, 3.0e4},
        {"Shanghai", 121.4737, 31.2304, 20.0, -60.0, 5.0e4},
    };
    return places;
}

std::string demoEarthFileText()
{
    std::string text = "<map name=\"Veltra demo world\" type=\"geocentric\" version=\"2\">\n"
                       "    <options>\n"
                       "        <terrain min_tile_range_factor=\"6\"/>\n"
                       "    </options>\n"
                       "    <!-- NASA Visible Earth when xplanet-images is installed, else a generated colouring -->\n"
                       "    <image name=\"world\" driver=\"gdal\">\n"
                       "        <url>world.tif</url>\n"
                       "    </image>\n"
                       "    <external>\n"
                       "        <sky driver=\"simple\" hours=\"12\" ambient=\"0.2\"/>\n"
                       "        <viewpoints>\n";
    for (const DemoPlace& place : demoPlaces())
    {
        text += viewpointElement(place);
    }
    text += "        </viewpoints>\n"
            "    </external>\n"
            "</map>\n";
    return text;
}

DemoGlobeFiles writeDemoGlobe(const std::filesystem::path& folder, const std::filesystem::path& photograph)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
    {
        throw std::runtime_error("cannot create the folder " + folder.string() + ": " + error.message());
    }
    DemoGlobeFiles files;
    files.worldRaster = folder / "world.tif";
    files.source = writeWorldRaster(files.worldRaster, photograph);

    // The earth file goes last: a reader that finds it can count on the raster beside it.
    files.earthFile = folder / "world.earth";
    std::ofstream out(files.earthFile, std::ios::binary | std::ios::trunc);
    out << demoEarthFileText();
    out.close();
    if (!out)
    {
        throw std::runtime_error("cannot write " + files.earthFile.string());
    }
    return files;
}

} // namespace veltra::demo
