#pragma once

#include <string>

namespace veltra::test {

/// The path of a third-party data file that the project does not ship, `relative` to the shared
/// data folder ("ifc/Duplex_A_20110907.ifc"): $VELTRA_SHARED_DATA when set, else the folder
/// beside the source tree. "" when the file is not there; tests then skip.
std::string sharedDataFile(const std::string& relative);

} // namespace veltra::test

/// Skips the running test when the shared data file is absent; otherwise `path` names it.
#define VELTRA_SHARED_DATA_OR_SKIP(path, relative)                                                                   \
    const std::string path = ::veltra::test::sharedDataFile(relative);                                              \
    if (path.empty())                                                                                                \
    GTEST_SKIP() << "shared data file " << (relative) << " is absent"
