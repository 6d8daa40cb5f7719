#pragma once

#include "capture/PictureEncoder.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltra::host {

struct HostOptions
{
    /// Static files are served from here; empty serves none.
    std::filesystem::path site;
    std::string address = "127.0.0.1";
    unsigned short port = 8470; // 0 picks a free one
    /// The name pages use to reach the host when it listens on another address than loopback.
    std::string publicHost;
    /// The plug-in library to load (--plugin); empty: the build's own, else the one the registry names.
    std::string plugin;
    /// Only print what the plug-in library says of itself (MIME description, version record) and end.
    bool pluginInfo = false;
    /// Only register the plug-in library for the user (its DllInstall(1, "user")) and end.
    bool registerPlugin = false;
    /// Only take the user's registration of the plug-in library back (its DllInstall(0, "user")) and end.
    bool unregisterPlugin = false;
    /// The X display instances draw on; empty means $DISPLAY, or a private Xvfb when that is unset.
    std::string display;
    PictureFormat pictureFormat = PictureFormat::Jpeg;
    int pictureQuality = 85;
    std::size_t maxInstancesPerPage = 8;
    /// Larger bridge calls (and the page's answers to the plug-in) are refused with 413; big
    /// enough for a feature layer's GeoJSON text, still bounded.
    std::size_t maxCallBytes = 64 * 1024 * 1024;
    std::chrono::milliseconds answerLimit{30000};
    /// How often changed pictures are looked for.
    std::chrono::milliseconds picturePeriod{15};

    /// Serve every page from this process (the plug-in on one browser thread for all pages), as
    /// for debugging; otherwise each page gets a viewer process of its own.
    bool singleProcess = false;
    /// The program started as a page process; empty: this program.
    std::string program;
    /// Limits of each page process: its data memory in bytes (0: none) and its open files.
    std::size_t pageMemoryBytes = std::size_t(8) << 30;
    std::size_t pageOpenFiles = 1024;
    /// Set in a page process: the file descriptor of its channel to the host (--page-process).
    int pageProcessChannel = -1;
};

/// The arguments that start a page process for a host run with `options`, after the program name.
std::vector<std::string> pageProcessArguments(const HostOptions& options, int channel);

/// The program's arguments as options, starting from `defaults`. Throws std::invalid_argument
/// naming the bad argument; sets `help` when --help was asked for. --plugin-info, --register-plugin and
/// --unregister-plugin set their flags and exclude each other.
HostOptions parseHostOptions(const std::vector<std::string>& args, HostOptions defaults, bool& help);

/// The usage text.
std::string hostUsage();

} // namespace veltra::host
