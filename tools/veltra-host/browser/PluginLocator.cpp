#include "browser/PluginLocator.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

namespace veltra::host {
namespace {

using FB::registry::Registry;
using FB::registry::Root;
using FB::registry::Status;

using GetMimeDescriptionFunc = const char* (*)();
using DllInstallFunc = std::int32_t (*)(int, const char*);

using LibraryHandle = std::unique_ptr<void, int (*)(void*)>;

LibraryHandle openLibrary(const std::string& path, std::string& why)
{
    LibraryHandle library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL), dlclose);
    if (!library)
    {
        const char* error = dlerror();
        why = error ? error : "unknown error";
    }
    return library;
}

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string userPluginsKey()
{
    return std::string(FB::registry::rootName(Root::CurrentUser)) + "\\" + kMozillaPluginsKey;
}

/// The keys under HKEY_CURRENT_USER\Software\MozillaPlugins that have a Path string, with it. A store that cannot be
/// read gives none: the DllInstall result says what went wrong with it.
std::map<std::string, std::string> userPluginPaths(const Registry& registry)
{
    std::map<std::string, std::string> paths;
    std::vector<std::string> names;
    if (!registry.enumSubkeys(Root::CurrentUser, kMozillaPluginsKey, names).ok())
        return paths;
    for (const std::string& name : names)
    {
        std::string path;
        if (registry.queryString(Root::CurrentUser, std::string(kMozillaPluginsKey) + "\\" + name, "Path", path).ok())
            paths[name] = path;
    }
    return paths;
}

std::string hexCode(std::int32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(code)));
    return std::string(text) + (code == 0 ? " (S_OK)" : "");
}

} // namespace

bool mimeDescriptionLists(const std::string& description, const std::string& mime)
{
    // Entries are "type:extensions:description", separated by ';'; only the type is compared, so that a
    // description mentioning the type (or a longer type starting with it) does not count.
    std::size_t start = 0;
    while (start <= description.size())
    {
        std::size_t end = description.find(';', start);
        if (end == std::string::npos)
            end = description.size();
        const std::string entry = description.substr(start, end - start);
        if (!mime.empty() && sameIgnoringCase(trimmed(entry.substr(0, entry.find(':'))), mime))
            return true;
        start = end + 1;
    }
    return false;
}

std::string whyNotPluginFor(const std::string& path, const std::string& mime)
{
    // A bare name would make dlopen search the library path, so what gets loaded would not be what the key names.
    if (!std::filesystem::path(path).is_absolute())
        return "\"" + path + "\" is not an absolute path";
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return path + " does not exist";
    if (!std::filesystem::is_regular_file(path, error))
        return path + " is not a file";
    if (access(path.c_str(), R_OK) != 0)
        return path + " cannot be read";
    std::string why;
    const LibraryHandle library = openLibrary(path, why);
    if (!library)
        return path + " cannot be opened: " + why;
    const auto describe = reinterpret_cast<GetMimeDescriptionFunc>(dlsym(library.get(), "NP_GetMIMEDescription"));
    if (!describe)
        return path + " has no NP_GetMIMEDescription";
    const char* answer = describe();
    const std::string description = answer ? answer : "";
    if (!mimeDescriptionLists(description, mime))
        return path + " handles \"" + description + "\", not " + mime;
    return "";
}

PluginChoice findRegisteredPlugin(const Registry& registry, const std::string& mime)
{
    PluginChoice choice;
    std::string looked;
    for (const Root root : {Root::CurrentUser, Root::LocalMachine})
    {
        const std::string parent = std::string(FB::registry::rootName(root)) + "\\" + kMozillaPluginsKey;
        looked += (looked.empty() ? "" : ", ") + parent;
        std::vector<std::string> names;
        const Status listed = registry.enumSubkeys(root, kMozillaPluginsKey, names);
        if (listed.result == FB::registry::Result::NotFound)
        {
            looked += " (absent)";
            continue;
        }
        if (!listed.ok())
        {
            looked += " (unreadable)";
            choice.skipped.push_back(parent + ": " + listed.message);
            continue;
        }
        looked += " (" + std::to_string(names.size()) + (names.size() == 1 ? " key)" : " keys)");
        for (const std::string& name : names)
        {
            const std::string key = parent + "\\" + name;
            std::string path;
            const Status got = registry.queryString(root, std::string(kMozillaPluginsKey) + "\\" + name, "Path", path);
            if (!got.ok())
            {
                choice.skipped.push_back(key + ": no Path string (" + FB::registry::resultName(got.result) + ")");
                continue;
            }
            const std::string why = whyNotPluginFor(path, mime);
            if (!why.empty())
            {
                choice.skipped.push_back(key + ": Path " + why);
                continue;
            }
            choice.path = path;
            choice.origin = key;
            return choice;
        }
    }
    choice.failure = "no registry key names a library for " + mime + " (looked at " + looked + ")";
    return choice;
}

PluginChoice locatePlugin(const std::string& given, const std::string& buildLibrary, const Registry& registry)
{
    PluginChoice choice;
    if (!given.empty())
    {
        choice.path = given;
        choice.origin = "--plugin";
        return choice;
    }
    std::error_code error;
    if (!buildLibrary.empty() && std::filesystem::exists(buildLibrary, error))
    {
        choice.path = buildLibrary;
        choice.origin = "the build";
        return choice;
    }
    choice = findRegisteredPlugin(registry);
    if (choice.path.empty())
        choice.failure =
            "no plug-in library: --plugin not given, the build's " + buildLibrary + " is absent, and " + choice.failure;
    return choice;
}

PluginRegistration installPluginLibrary(const std::string& path, bool install)
{
    PluginRegistration outcome;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    const std::string library = error ? path : absolute.lexically_normal().string();

    const Registry registry;
    const std::map<std::string, std::string> before = userPluginPaths(registry);

    std::string why;
    const LibraryHandle handle = openLibrary(library, why);
    if (!handle)
    {
        outcome.lines.push_back("Cannot open plug-in " + library + ": " + why);
        return outcome;
    }
    const auto entry = reinterpret_cast<DllInstallFunc>(dlsym(handle.get(), "DllInstall"));
    if (!entry)
    {
        outcome.lines.push_back("The library has no DllInstall: " + library);
        return outcome;
    }
    outcome.code = entry(install ? 1 : 0, "user");
    outcome.called = true;
    outcome.lines.push_back(std::string("DllInstall(") + (install ? "1" : "0") + ", \"user\") on " + library + ": " +
                            hexCode(outcome.code));

    const std::map<std::string, std::string> after = userPluginPaths(registry);
    const std::string parent = userPluginsKey();
    const std::size_t reported = outcome.lines.size();
    if (install)
    {
        for (const auto& [name, registered] : after)
            if (registered == library)
                outcome.lines.push_back("registered " + parent + "\\" + name + " with Path " + registered);
        if (outcome.lines.size() == reported)
            outcome.lines.push_back("no key under " + parent + " names " + library);
    }
    else
    {
        for (const auto& [name, registered] : before)
        {
            const auto kept = after.find(name);
            if (kept == after.end() || kept->second != registered)
                outcome.lines.push_back("removed " + parent + "\\" + name + " (its Path was " + registered + ")");
        }
        if (outcome.lines.size() == reported)
            outcome.lines.push_back("nothing under " + parent + " was removed");
    }
    return outcome;
}

} // namespace veltra::host
