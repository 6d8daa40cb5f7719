#include "ScheduleWriter.h"

#include "ScheduleError.h"

#include <json/json.h>

#include <filesystem>
#include <fstream>

namespace veltra::schedule {

namespace {

std::string jsonText(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["emitUTF8"] = true;
    builder["indentation"] = "  ";
    return Json::writeString(builder, value) + "\n";
}

void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << text;
    stream.close();
    if (!stream)
        throw ScheduleError(path.string() + ": cannot be written");
}

} // namespace

std::string taskListJson(const Schedule& schedule)
{
    Json::Value list(Json::arrayValue);
    for (const ScheduleTask& task : schedule.tasks)
    {
        Json::Value row(Json::objectValue);
        row["wbs"] = task.key;
        row["name"] = task.name;
        auto optional = [&row](const char* key, const std::string& value) {
            if (!value.empty())
                row[key] = value;
        };
        optional("type", task.type);
        optional("notes", task.notes);
        optional("startP", task.startP);
        optional("finishP", task.finishP);
        optional("startA", task.startA);
        optional("finishA", task.finishA);
        if (task.summary)
            row["summary"] = true;
        if (task.milestone)
            row["milestone"] = true;
        list.append(row);
    }
    return jsonText(list);
}

std::string bindingJson(const Schedule& schedule)
{
    Json::Value binding(Json::objectValue);
    for (const ScheduleTask& task : schedule.tasks)
    {
        if (task.elements.empty())
            continue;
        Json::Value ids(Json::arrayValue);
        for (int id : task.elements)
            ids.append(id);
        binding[task.key] = ids;
    }
    return jsonText(binding);
}

void writeSchedule(const Schedule& schedule, const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder))
        throw ScheduleError(folder + ": the output folder cannot be created (" + error.message() + ")");
    writeFile(std::filesystem::path(folder) / "tasks.json", taskListJson(schedule));
    writeFile(std::filesystem::path(folder) / "binding.json", bindingJson(schedule));
}

} // namespace veltra::schedule
