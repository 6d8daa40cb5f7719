#pragma once

#include <string>
#include <vector>

namespace veltra::schedule {

/// A delimited text table: a header row and the records under it.
struct CsvTable
{
    char separator = ',';
    std::vector<std::string> header;               ///< column names, trimmed, without a byte order mark
    std::vector<std::vector<std::string>> records; ///< data rows, blank lines left out

    /// The index of the column named exactly `name` (after trimming), or -1.
    int column(const std::string& name) const;
};

/// Parses `text`: the separator is whichever of ',', ';' and tab occurs most often in the header line outside
/// quotes (',' on a tie or when none does); fields may be quoted with "" standing for a quote inside, and quoted
/// fields may span lines. Throws ScheduleError for a text without a header and for a quote that never closes;
/// `name` names the file in messages.
CsvTable parseCsv(const std::string& text, const std::string& name);

} // namespace veltra::schedule
