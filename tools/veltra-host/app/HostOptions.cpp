#include "app/HostOptions.h"

#include <stdexcept>

namespace veltra::host {

namespace {

long number(const std::string& option, const std::string& text, long low, long high)
{
    std::size_t used = 0;
    long value = 0;
    try
    {
        value = std::stol(text, &used);
    }
    catch (const std::exception&)
    {
        used = 0;
    }
    if (used != text.size() || text.empty() || value < low || value > high)
        throw std::invalid_argument(option + " takes a whole number from " + std::to_string(low) + " to " +
                                    std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

} // namespace

HostOptions parseHostOptions(const std::vector<std::string>& args, HostOptions options, bool& help)
{
    help = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h")
        {
            help = true;
            continue;
        }
        if (i + 1 >= args.size())
            throw std::invalid_argument(option.rfind("--", 0) == 0 ? option + " needs a value"
                                                                   : "unknown argument \"" + option + "\"");
        const std::string& value = args[++i];
        if (option == "--site")
            options.site = value;
        else if (option == "--address")
            options.address = value;
        else if (option == "--port")
            options.port = static_cast<unsigned short>(number(option, value, 0, 65535));
        else if (option == "--public-host")
            options.publicHost = value;
        else if (option == "--plugin")
            options.plugin = value;
        else if (option == "--display")
            options.display = value;
        else if (option == "--pictures")
        {
            if (value == "jpeg")
                options.pictureFormat = PictureFormat::Jpeg;
            else if (value == "png")
                options.pictureFormat = PictureFormat::Png;
            else
                throw std::invalid_argument("--pictures takes jpeg or png, not \"" + value + "\"");
        }
        else if (option == "--quality")
            options.pictureQuality = static_cast<int>(number(option, value, 1, 100));
        else if (option == "--max-instances")
            options.maxInstancesPerPage = static_cast<std::size_t>(number(option, value, 1, 64));
        else
            throw std::invalid_argument("unknown option \"" + option + "\"");
    }
    return options;
}

std::string hostUsage()
{
    return "usage: veltra-host [options]\n"
           "Serves a site whose pages embed the Veltra viewer through <object type=\"application/x-veltra\">\n"
           "and the page script /veltra.js.\n"
           "  --site DIR           the site folder (default: the demo site of the build)\n"
           "  --address ADDR       the address to listen on (default 127.0.0.1; keep it on loopback)\n"
           "  --port N             the port (default 8470; 0 picks a free one)\n"
           "  --public-host NAME   the host name pages use, when listening on another address\n"
           "  --plugin PATH        the plug-in library (default: npveltra.so of the build)\n"
           "  --display NAME       the X display to draw on (default $DISPLAY, else a private Xvfb)\n"
           "  --pictures jpeg|png  how window pictures are sent (default jpeg)\n"
           "  --quality N          JPEG quality, 1 to 100 (default 85)\n"
           "  --max-instances N    plug-in elements allowed on one page (default 8)\n";
}

} // namespace veltra::host
