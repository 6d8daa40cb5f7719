#include "CsvTable.h"

#include "ScheduleDates.h"
#include "ScheduleError.h"

namespace veltra::schedule {

namespace {

char detectSeparator(const std::string& text)
{
    int counts[3] = {0, 0, 0};
    const char candidates[3] = {',', ';', '\t'};
    bool quoted = false;
    for (char c : text)
    {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == '\n' || c == '\r'))
            break;
        else if (!quoted)
            for (int i = 0; i < 3; ++i)
                counts[i] += c == candidates[i];
    }
    int best = 0;
    for (int i = 1; i < 3; ++i)
        if (counts[i] > counts[best])
            best = i;
    return candidates[best];
}

bool isBlank(const std::vector<std::string>& record)
{
    return record.size() == 1 && trimmed(record[0]).empty();
}

} // namespace

int CsvTable::column(const std::string& name) const
{
    const std::string wanted = trimmed(name);
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == wanted)
            return static_cast<int>(i);
    return -1;
}

CsvTable parseCsv(const std::string& source, const std::string& name)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string text = source.compare(0, bom.size(), bom) == 0 ? source.substr(bom.size()) : source;

    CsvTable table;
    table.separator = detectSeparator(text);

    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    int line = 1;
    int quoteLine = 0;
    auto endRecord = [&] {
        record.push_back(std::move(field));
        field.clear();
        if (!isBlank(record))
            rows.push_back(std::move(record));
        record.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (quoted)
        {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            {
                field += '"';
                ++i;
            }
            else if (c == '"')
                quoted = false;
            else
            {
                line += c == '\n';
                field += c;
            }
        }
        else if (c == '"')
        {
            quoted = true;
            quoteLine = line;
        }
        else if (c == table.separator)
        {
            record.push_back(std::move(field));
            field.clear();
        }
        else if (c == '\n' || c == '\r')
        {
            // "\r\n" ends one record, not two.
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            ++line;
            endRecord();
        }
        else
            field += c;
    }
    if (quoted)
        throw ScheduleError(name + ": unreadable table: the quote opened on line " + std::to_string(quoteLine) +
                            " never closes");
    if (!field.empty() || !record.empty())
        endRecord();
    if (rows.empty())
        throw ScheduleError(name + ": unreadable table: no header row");

    for (const std::string& column : rows.front())
        table.header.push_back(trimmed(column));
    table.records.assign(std::make_move_iterator(rows.begin() + 1), std::make_move_iterator(rows.end()));
    return table;
}

} // namespace veltra::schedule
