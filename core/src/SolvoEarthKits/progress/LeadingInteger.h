#pragma once

#include <cstddef>
#include <string>

namespace SolvoEarthUtil {

/// The integer at the front of a text as atoi reads it (C-locale blanks, one sign, decimal
/// digits), without atoi's undefined behaviour on overflow.
struct LeadingInteger
{
    long long value = 0;   // 0 without digits; the long long limit in the number's direction on overflow
    bool digits = false;   // at least one digit was read
    bool overflow = false; // the number does not fit a long long
    std::size_t end = 0;   // position just past the last byte read
};

/// Reads the integer starting at `pos` in `text`.
LeadingInteger readLeadingInteger(const std::string& text, std::size_t pos);

} // namespace SolvoEarthUtil
