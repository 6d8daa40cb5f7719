#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltra::host {

/// A request target cut at its first '?': the path, and the query without the '?'.
/// A fragment ('#...'), which browsers never send, is dropped from either part.
struct TargetParts
{
    std::string_view path;
    std::string_view query;
};

TargetParts splitTarget(std::string_view target);

/// Decodes %XX escapes; '+' stays '+' because paths do not use form encoding. Empty when an escape
/// is cut short or is not hexadecimal, so that a malformed target is refused rather than guessed.
std::optional<std::string> percentDecode(std::string_view text);

/// The decoded value of the first `name=value` pair in a query ('+' read as a space, as forms send
/// it); empty when the name is absent or its value is malformed.
std::optional<std::string> queryValue(std::string_view query, std::string_view name);

} // namespace veltra::host
