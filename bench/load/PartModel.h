#pragma once

#include <osg/Group>

#include <filesystem>
#include <string>

namespace veltra::bench {

/// A building model as exporters write them: `parts` geodes "Element [k]" (k from 1) in storeys
/// of 100, each with one box geometry of its own vertices, and normals, colour, indices and a
/// material state set that are equal copies among parts of the same kind (six kinds). The parts
/// fill a cube.
osg::ref_ptr<osg::Group> makePartModel(int parts);

/// "<folder>/parts-<parts>.<extension>", written from makePartModel unless it is already there.
/// Empty when it cannot be written.
std::string partModelFile(const std::filesystem::path& folder, int parts, const std::string& extension);

} // namespace veltra::bench
