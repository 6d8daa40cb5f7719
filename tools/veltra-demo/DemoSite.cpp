#include "veltra-demo/DemoSite.h"

#include "veltra-demo/DemoBuilding.h"
#include "veltra-demo/DemoFeatures.h"
#include "veltra-demo/DemoGlobe.h"
#include "veltra-demo/DemoPage.h"
#include "veltra-demo/ProjectSite.h"

#include <osg/Image>
#include <osgDB/WriteFile>

#include <fstream>
#include <functional>
#include <stdexcept>

namespace veltra::demo {

namespace {

constexpr int kImageSize = 128;

// An RGB image whose colour at each pixel is given by `shade` (arguments 0..1 across and up).
void writeImage(const std::filesystem::path& path, const std::function<osg::Vec3(float, float)>& shade)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(kImageSize, kImageSize, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int row = 0; row < kImageSize; ++row)
        for (int column = 0; column < kImageSize; ++column)
        {
            const osg::Vec3 colour = shade(float(column) / (kImageSize - 1), float(row) / (kImageSize - 1));
            unsigned char* pixel = image->data(column, row);
            for (int channel = 0; channel < 3; ++channel)
                pixel[channel] = static_cast<unsigned char>(colour[channel] * 255.0f + 0.5f);
        }
    if (!osgDB::writeImageFile(*image, path.string()))
        throw std::runtime_error("cannot write " + path.string());
}

osg::Vec3 mix(const osg::Vec3& a, const osg::Vec3& b, float t)
{
    return a * (1.0f - t) + b * t;
}

const osg::Vec3 kZenith(0.25f, 0.45f, 0.80f);
const osg::Vec3 kHorizon(0.85f, 0.90f, 0.96f);
const osg::Vec3 kGround(0.45f, 0.42f, 0.36f);

// Side faces fade from ground below the horizon to zenith blue at the top; the top and bottom
// faces are plain.
void writeSkyBox(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + folder.string() + ": " + error.message());
    const auto side = [](float, float up) {
        return up < 0.5f ? mix(kGround, kHorizon, up * 2.0f) : mix(kHorizon, kZenith, (up - 0.5f) * 2.0f);
    };
    for (const char* name : {"posX.jpg", "negX.jpg", "posY.jpg", "negY.jpg"})
        writeImage(folder / name, side);
    writeImage(folder / "posZ.jpg", [](float, float) { return kZenith; });
    writeImage(folder / "negZ.jpg", [](float, float) { return kGround; });
}

} // namespace

void writeTextFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void writePageFiles(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + folder.string() + ": " + error.message());
    writeTextFile(folder / "index.html", demoIndexHtml());
    writeTextFile(folder / "demo.css", demoStyleSheet());
    writeTextFile(folder / "demo.js", demoScript());
    writeSkyBox(folder / "sky");
    writeImage(folder / "background.png",
               [](float, float up) { return mix(osg::Vec3(0.93f, 0.94f, 0.96f), osg::Vec3(0.55f, 0.62f, 0.72f), up); });
}

void writeDemoSite(const std::filesystem::path& folder)
{
    writeDemoBuilding(folder);
    writePageFiles(folder);
    writeTextFile(folder / "project.json", demoProjectDescription());
    writeTextFile(folder / "globe.html", demoGlobeHtml());
    writeTextFile(folder / "globe.js", demoGlobeScript());
    writeDemoGlobe(folder / "globe");
    writeDemoFeatures(folder / "globe");
}

} // namespace veltra::demo
