#pragma once

#include <string>

#include "registry/RegistryKey.h"
#include "registry/RegistryStatus.h"

namespace FB::registry {

/// The text of a store file holding `root`'s keys and values: a header line, one line per key, one line per value
/// under its key, and an end line, so that a file cut short at a line boundary is still seen as damaged.
std::string writeStoreText(const RegistryKey& root);

/// Reads a store file's text into `root` (which it empties first). On damage it returns StoreDamaged with
/// "<fileName>:<line>: <what>" and leaves `root` empty.
Status readStoreText(const std::string& text, const std::string& fileName, RegistryKey& root);

} // namespace FB::registry
