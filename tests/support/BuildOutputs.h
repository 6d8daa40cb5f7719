#pragma once

#include <string>

namespace veltra::test {

/// The path of a program the build put beside the running test program (the build's bin/ folder).
std::string builtProgram(const std::string& fileName);

/// The build's lib/ folder, beside the test program's bin/: libraries and plug-ins loaded by name.
std::string builtLibraryFolder();

/// The path of a library or plug-in the build put in its lib/ folder.
std::string builtLibrary(const std::string& fileName);

} // namespace veltra::test
