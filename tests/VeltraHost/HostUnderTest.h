#pragma once

#include "app/HostOptions.h"

#include "BuildOutputs.h"
#include "PageClient.h"
#include "VirtualDisplay.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace veltra::test {

/// What every test of a whole host needs first: the display (a private Xvfb when there is none) and
/// a client whose socket reads page processes ending cannot interrupt. False, with why, without a display.
inline bool prepareHostTest(std::string* why)
{
    blockChildSignals();
    return ensureDisplay(why);
}

/// A host serving `site` on a free port with `plugin`, drawing on the tests' display, sending PNG
/// pictures, and starting its page processes from the build's veltra-host.
inline host::HostOptions hostOptionsForTests(const std::filesystem::path& site, const std::string& plugin)
{
    host::HostOptions options;
    options.site = site;
    options.port = 0;
    options.plugin = plugin;
    options.display = std::getenv("DISPLAY");
    options.pictureFormat = host::PictureFormat::Png;
    options.program = builtProgram("veltra-host");
    return options;
}

} // namespace veltra::test
