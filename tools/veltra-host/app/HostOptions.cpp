#include "app/HostOptions.h"

#include <cctype>
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

/// A size in bytes, or in KiB, MiB or GiB with a K, M or G after the number.
std::size_t byteSize(const std::string& option, const std::string& text, std::size_t low, std::size_t high)
{
    std::string digits = text;
    std::size_t unit = 1;
    if (!digits.empty())
    {
        const char last = static_cast<char>(std::toupper(static_cast<unsigned char>(digits.back())));
        const std::size_t shift = last == 'K' ? 10 : last == 'M' ? 20 : last == 'G' ? 30 : 0;
        if (shift)
        {
            unit = std::size_t(1) << shift;
            digits.pop_back();
        }
    }
    std::size_t used = 0;
    unsigned long long value = 0;
    try
    {
        if (!digits.empty() && std::isdigit(static_cast<unsigned char>(digits.front())))
            value = std::stoull(digits, &used);
    }
    catch (const std::exception&)
    {
        used = 0;
    }
    if (used == 0 || used != digits.size() || value > high / unit || value * unit < low)
        throw std::invalid_argument(option + " takes a size from " + std::to_string(low >> 10) + "K to " +
                                    std::to_string(high >> 20) + "M, not \"" + text + "\"");
    return static_cast<std::size_t>(value * unit);
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
        if (option == "--plugin-info" || option == "--register-plugin" || option == "--unregister-plugin")
        {
            bool& flag = option == "--plugin-info"       ? options.pluginInfo
                         : option == "--register-plugin" ? options.registerPlugin
                                                         : options.unregisterPlugin;
            flag = true;
            if (options.pluginInfo + options.registerPlugin + options.unregisterPlugin > 1)
                throw std::invalid_argument(
                    "--plugin-info, --register-plugin and --unregister-plugin exclude each other");
            continue;
        }
        if (option == "--single-process")
        {
            options.singleProcess = true;
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
        else if (option == "--max-call-size")
            options.maxCallBytes = byteSize(option, value, std::size_t(1) << 10, std::size_t(1) << 30);
        else if (option == "--page-memory")
            options.pageMemoryBytes =
                value == "0" ? 0 : byteSize(option, value, std::size_t(64) << 20, std::size_t(1) << 40);
        else if (option == "--page-files")
            options.pageOpenFiles = static_cast<std::size_t>(number(option, value, 64, 1 << 20));
        else if (option == "--page-process")
            options.pageProcessChannel = static_cast<int>(number(option, value, 0, 1 << 20));
        else
            throw std::invalid_argument("unknown option \"" + option + "\"");
    }
    return options;
}

std::vector<std::string> pageProcessArguments(const HostOptions& options, int channel)
{
    std::vector<std::string> args = {"--page-process",  std::to_string(channel),
                                     "--plugin",        options.plugin,
                                     "--display",       options.display,
                                     "--pictures",      options.pictureFormat == PictureFormat::Png ? "png" : "jpeg",
                                     "--quality",       std::to_string(options.pictureQuality),
                                     "--max-instances", std::to_string(options.maxInstancesPerPage),
                                     "--max-call-size", std::to_string(options.maxCallBytes),
                                     "--page-memory",   std::to_string(options.pageMemoryBytes),
                                     "--page-files",    std::to_string(options.pageOpenFiles)};
    return args;
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
           "  --plugin PATH        the plug-in library (default: npveltra.so of the build, else the\n"
           "                       first one registered under HKEY_CURRENT_USER, then\n"
           "                       HKEY_LOCAL_MACHINE, Software\\MozillaPlugins for application/x-veltra)\n"
           "  --plugin-info        print the plug-in library's MIME description and version record\n"
           "                       and end, serving nothing\n"
           "  --register-plugin    register the plug-in library for this user (its DllInstall) and end\n"
           "  --unregister-plugin  take that registration back and end\n"
           "  --display NAME       the X display to draw on (default $DISPLAY, else a private Xvfb)\n"
           "  --pictures jpeg|png  how window pictures are sent (default jpeg)\n"
           "  --quality N          JPEG quality, 1 to 100 (default 85)\n"
           "  --max-instances N    plug-in elements allowed on one page (default 8)\n"
           "  --max-call-size N    the largest call a page may make, in bytes or with K or M after\n"
           "                       the number (default 64M; 1K to 1024M); larger ones are refused\n"
           "  --single-process     serve every page from this process instead of a viewer process\n"
           "                       per page (for debugging: one page's fault then ends them all)\n"
           "  --page-memory N      the data memory each page process may use, in bytes or with K, M\n"
           "                       or G after the number (default 8G; 0: no limit)\n"
           "  --page-files N       the files each page process may hold open (default 1024)\n";
}

} // namespace veltra::host
