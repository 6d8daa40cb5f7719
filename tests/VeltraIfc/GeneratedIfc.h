#pragma once

#include <string>

namespace veltra::test {

/// A small IFC4 file written for the tests, lengths in millimetres: project "Two Walls", a site,
/// a building and storey "Ground Floor" holding two extruded walls.
///   #100 "Wall A": x 1..5 m, y 2..2.2 m, z 0..3 m, opaque red-brown (0.8, 0.2, 0.1);
///   #200 "Wall:Ext:777": x 0..0.2 m, y 0..3 m, z 0..2.5 m, blue (0.1, 0.3, 0.9) at half opacity.
std::string twoWallIfc();

/// The same file with `replacement` in place of the first line that starts with `lineStart`
/// ("#60=" and the like), for files broken in one place.
std::string twoWallIfcWith(const std::string& lineStart, const std::string& replacement);

/// `text` with `replacement` in place of its first line that starts with `lineStart`.
std::string withLine(std::string text, const std::string& lineStart, const std::string& replacement);

} // namespace veltra::test
