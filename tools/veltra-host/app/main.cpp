// veltra-host: serves a site whose pages embed the Veltra plug-in, and plays the browser's side of
// the plug-in interface for them.
#include "app/HostApp.h"
#include "app/PageProcessMain.h"
#include "browser/PluginLocator.h"
#include "browser/PluginModule.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <exception>
#include <filesystem>

namespace {

/// The build's bin folder, where the program lies next to ../site and ../lib.
std::filesystem::path programFolder()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

/// --plugin-info: the library is opened to be read, never started, so no display, server or
/// browser thread is needed.
int printPluginInfo(const std::string& plugin)
{
    try
    {
        const veltra::host::PluginLibraryInfo info = veltra::host::readPluginLibraryInfo(plugin);
        std::printf("MIME description: %s\n", info.mimeDescription.c_str());
        for (const auto& [key, value] : info.versionRecord)
            std::printf("%s:%s%s\n", key.c_str(), value.empty() ? "" : " ", value.c_str());
        return 0;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "veltra-host: %s\n", error.what());
        return 1;
    }
}

/// Which library to use: --plugin, the build's own, else the registry's. Says on standard error which registry keys
/// were passed over and, when the registry named it, which key did. Empty when there is none, the reason printed.
std::string choosePlugin(const std::string& given, const std::string& buildLibrary)
{
    const veltra::host::PluginChoice choice = veltra::host::locatePlugin(given, buildLibrary, FB::registry::Registry());
    for (const std::string& skipped : choice.skipped)
        std::fprintf(stderr, "veltra-host: skipped %s\n", skipped.c_str());
    if (choice.path.empty())
        std::fprintf(stderr, "veltra-host: %s\n", choice.failure.c_str());
    else if (choice.origin != "--plugin" && choice.origin != "the build")
        std::fprintf(stderr, "veltra-host: plug-in %s, registered under %s\n", choice.path.c_str(),
                     choice.origin.c_str());
    return choice.path;
}

/// --register-plugin and --unregister-plugin: like --plugin-info, nothing but the library is started.
int installPlugin(const std::string& plugin, bool install)
{
    const veltra::host::PluginRegistration outcome = veltra::host::installPluginLibrary(plugin, install);
    for (const std::string& line : outcome.lines)
        std::fprintf(outcome.called ? stdout : stderr, "%s%s\n", outcome.called ? "" : "veltra-host: ", line.c_str());
    return outcome.called && outcome.code == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace veltra::host;

    // Signals are taken by sigwait below; threads started from here on inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A page that goes away mid-write must not end the host.
    signal(SIGPIPE, SIG_IGN);

    const std::filesystem::path bin = programFolder();
    HostOptions defaults;
    defaults.site = bin.parent_path() / "site";
    const std::string buildLibrary = (bin.parent_path() / "lib" / "npveltra.so").string();

    HostOptions options;
    try
    {
        bool help = false;
        options = parseHostOptions(std::vector<std::string>(argv + 1, argv + argc), defaults, help);
        if (help)
        {
            std::fputs(hostUsage().c_str(), stdout);
            return 0;
        }
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "veltra-host: %s\n%s", error.what(), hostUsage().c_str());
        return 2;
    }
    // A page process is started by the host with everything decided.
    if (options.pageProcessChannel >= 0)
        return runPageProcess(options);
    options.plugin = choosePlugin(options.plugin, buildLibrary);
    if (options.plugin.empty())
        return 1;
    if (options.pluginInfo)
        return printPluginInfo(options.plugin);
    if (options.registerPlugin || options.unregisterPlugin)
        return installPlugin(options.plugin, options.registerPlugin);

    try
    {
        HostApp app(options);
        std::printf("veltra-host: drawing on X display %s%s\n", app.displayName().c_str(),
                    app.ownsDisplay() ? " (a private Xvfb)" : "");
        std::printf("veltra-host: serving %s\n", options.site.string().c_str());
        std::printf("veltra-host: open %s in a browser; Ctrl+C stops\n", app.address().c_str());
        std::fflush(stdout);

        int caught = 0;
        sigwait(&stopSignals, &caught);
        std::printf("veltra-host: stopping\n");
        std::fflush(stdout);
        app.shutdown();
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "veltra-host: %s\n", error.what());
        return 1;
    }
    return 0;
}
