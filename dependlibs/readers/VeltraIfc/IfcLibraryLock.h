#pragma once

#include <mutex>

namespace veltra::ifc {

/// Serialises the calls into IFC++ and Carve: Carve keeps its geometric tolerance in a global
/// that every geometry conversion sets from the model's length unit, so two models converted
/// at once would use each other's tolerance.
std::mutex& ifcLibraryLock();

} // namespace veltra::ifc
