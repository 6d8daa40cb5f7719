#include "TaskKeys.h"

#include <SolvoEarthKits/progress/WbsOrder.h>

#include <map>

namespace veltra::schedule {

namespace {

const std::size_t NamedClashes = 8;

std::string describe(const KeyClashes& found)
{
    std::string text;
    if (found.empty > 0)
        text += std::to_string(found.empty) + " empty";
    for (std::size_t i = 0; i < found.clashes.size() && i < NamedClashes; ++i)
    {
        const auto& [code, earlier] = found.clashes[i];
        text += (text.empty() ? "" : ", ") + ("\"" + code + "\"") +
                (code == earlier ? " repeated" : " equals \"" + earlier + "\"");
    }
    if (found.clashes.size() > NamedClashes)
        text += ", and " + std::to_string(found.clashes.size() - NamedClashes) + " more";
    return text;
}

} // namespace

KeyClashes findKeyClashes(const std::vector<std::string>& codes)
{
    KeyClashes found;
    std::map<std::string, std::string, SolvoEarthUtil::WbsLess> seen;
    for (const std::string& code : codes)
    {
        if (code.empty())
        {
            ++found.empty;
            continue;
        }
        const auto [at, inserted] = seen.emplace(code, code);
        if (!inserted)
            found.clashes.emplace_back(code, at->second);
    }
    return found;
}

void assignKeys(Schedule& schedule, const std::vector<KeySource>& sources)
{
    for (const auto& [sourceName, codeOf] : sources)
    {
        std::vector<std::string> codes;
        for (const ScheduleTask& task : schedule.tasks)
            codes.push_back(codeOf(task));
        const KeyClashes found = findKeyClashes(codes);
        if (found.usable())
        {
            for (std::size_t i = 0; i < codes.size(); ++i)
                schedule.tasks[i].key = codes[i];
            schedule.keySource = sourceName;
            return;
        }
        schedule.warnings.push_back(sourceName + " codes are not unique task keys (" + describe(found) +
                                    "); trying the next source");
    }
    for (std::size_t i = 0; i < schedule.tasks.size(); ++i)
        schedule.tasks[i].key = std::to_string(i + 1);
    schedule.keySource = "position";
}

} // namespace veltra::schedule
