// veltra-host --plugin-info run as a user runs it: the output and exit status of the program.
#include "BuildOutputs.h"
#include "HostProgramRun.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using veltra::test::HostRun;

HostRun runHost(const std::string& arguments)
{
    return veltra::test::runHostProgram(veltra::test::builtProgram(VELTRA_HOST_PROGRAM), arguments);
}

const char* const kVeltraInfo = "MIME description: application/x-veltra::Ombrel webplugin;\n"
                                "CompanyName: Ombrel\n"
                                "FileDescription: Ombrel webplugin\n"
                                "FileVersion: 1.0.0.0\n"
                                "ProductVersion: 1.0.0.0\n"
                                "InternalName: npveltra\n"
                                "OriginalFilename: npveltra\n"
                                "ProductName: Veltra\n"
                                "FileOpenName: Veltra\n"
                                "FileExtents:\n"
                                "MIMEType: application/x-veltra\n"
                                "LanguageBlock: 040904e4\n";

} // namespace

TEST(BrowserPluginInfo, PrintsTheLibrarysRecordOrSaysWhyNot)
{
    const std::string realPlugin = "'" + veltra::test::builtLibrary(VELTRA_PLUGIN_LIBRARY) + "'";
    struct Case
    {
        std::string arguments;
        int status;
        std::string output; // the whole output when the status is 0, else a part of it
    };
    const Case cases[] = {
        {"--plugin-info", 0, kVeltraInfo}, // the build's own plug-in by default
        {"--plugin " + realPlugin + " --plugin-info --port 1", 0, kVeltraInfo},
        {"--plugin-info --plugin /absent/npabsent.so", 1, "veltra-host: Cannot open plug-in /absent/npabsent.so"},
        {"--plugin-info --plugin libm.so.6", 1, "veltra-host: The library has no VeltraPlugin_GetVersionInfo"},
        {"--plugin-info --plugin", 2, "--plugin needs a value"},
    };
    for (const Case& c : cases)
    {
        const HostRun run = runHost(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
        if (c.status == 0)
            EXPECT_EQ(run.output, c.output) << c.arguments;
        else
            EXPECT_NE(run.output.find(c.output), std::string::npos) << c.arguments << "\n" << run.output;
    }
}
