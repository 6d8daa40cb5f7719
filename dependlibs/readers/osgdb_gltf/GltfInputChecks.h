#pragma once

#include <cstddef>
#include <string>

namespace veltra::gltf {

/// True when the bytes start with the binary container's magic "glTF".
bool isGlb(const std::string& bytes);

/// Checks the binary container's header and chunk table against the bytes actually present, so
/// that tinygltf only ever sees chunks that lie inside them. Returns an empty string when the
/// layout is sound, else what is wrong.
std::string checkGlbLayout(const std::string& bytes);

/// The deepest nesting of arrays and objects in JSON text (strings skipped). tinygltf converts
/// "extras" recursively, so text nested deeper than any real asset is refused before parsing.
std::size_t jsonNestingDepth(const char* text, std::size_t size);

/// Where the JSON chunk of a binary container whose layout passed checkGlbLayout starts, and its size.
std::size_t glbJsonOffset();
std::size_t glbJsonSize(const std::string& bytes);

} // namespace veltra::gltf
