#pragma once

#include <json/value.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace veltra::host {

/// Bridge messages whose long texts travel beside their JSON instead of inside it.
///
/// A message "in parts" is its JSON text, one line feed, then the texts lifted out of it as raw
/// UTF-8, one after the other. In the JSON each lifted text stands as {"$":"text","part":K,
/// "length":N}: K numbers the texts from 0 in the order they follow, N is the text's length in
/// UTF-16 code units, as a page's script counts it. So neither side escapes or unescapes a
/// megabyte text, and the page cuts the texts out of the reply without copying them.
namespace wireparts {

/// The media type of a message in parts (its Content-Type; the page names it in Accept).
inline constexpr std::string_view MediaType = "application/x-veltra-parts";

/// Texts of at least this many bytes leave the JSON of a reply in parts.
inline constexpr std::size_t LiftedBytes = 4096;

/// Whether a Content-Type header names `type` (parameters such as a charset are ignored).
bool isMediaType(std::string_view header, std::string_view type);

/// Whether an Accept header lists `type`.
bool accepts(std::string_view header, std::string_view type);

/// How many bytes at the start of `utf8` hold `units` UTF-16 code units, as a browser encodes a
/// string of that length; nullopt when the text ends first or a four-byte character would be
/// split. The bytes are not checked otherwise: the receiver takes them as the page sent them.
std::optional<std::size_t> bytesForUnits(std::string_view utf8, std::size_t units);

/// The length in UTF-16 code units of a text; nullopt when it is not valid UTF-8 (a browser
/// would decode it to another length).
std::optional<std::size_t> utf16Length(std::string_view utf8);

/// Reads a message: plain JSON, or one in parts, whose lifted texts are put back in place.
/// Throws WireError for anything malformed: bad JSON, a part missing, repeated or left over, or
/// parts that do not add up to the texts after the line feed.
Json::Value read(std::string_view body, bool inParts);

/// Writes a message as compact JSON, or in parts with every text of at least `liftedBytes` bytes
/// that is valid UTF-8 lifted out (others stay in the JSON, escaped as before).
std::string write(Json::Value message, bool inParts, std::size_t liftedBytes = LiftedBytes);

} // namespace wireparts

} // namespace veltra::host
