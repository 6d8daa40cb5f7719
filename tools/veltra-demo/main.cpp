// Writes the demo site: a generated building with its schedule and binding, a page that drives
// the viewer through every group of its scripting methods, and a demo globe (an earth file over a
// world raster).
#include "veltra-demo/DemoSite.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '\0')
    {
        std::cerr << "usage: veltra-demo-site <out-folder>" << std::endl;
        return 2;
    }
    try
    {
        veltra::demo::writeDemoSite(argv[1]);
    }
    catch (const std::exception& error)
    {
        std::cerr << "veltra-demo-site: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
