#pragma once

#include "TestBrowser.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace veltra::test {

/// A plug-in library, opened with dlopen and reached only through its exports, as a browser reaches
/// a plug-in. When it exports the test hook "veltraTestSetTraceSink", its trace lines
/// ("source: message") are collected while it is open.
class PluginLibrary
{
public:
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    template <class Function>
    Function symbol(const char* name) const
    {
        return reinterpret_cast<Function>(lookup(name));
    }

    NP_GetEntryPointsFunc getEntryPoints = nullptr;
    NP_InitializeFunc initialize = nullptr;
    NP_ShutdownFunc shutdown = nullptr;
    NP_GetMIMEDescriptionFunc getMIMEDescription = nullptr;
    NP_GetValueFunc getValue = nullptr;

    /// Every trace line so far, as "source: message".
    static std::vector<std::string> traces();
    static void clearTraces();
    /// True when `lines` appear in the traces in this order (other lines may come between).
    static bool tracedInOrder(const std::vector<std::string>& lines);
    static bool traced(const std::string& line) { return tracedInOrder({line}); }

private:
    void* lookup(const char* name) const;
    void setTraceSink(void (*sink)(const char*, const char*)) const;
    void* _handle = nullptr;
};

/// A page for the plug-in: a window with a console that records its lines, page arrays, named page
/// functions that "(name)" evaluates to, and behind the page functions the plug-in installs by
/// evaluating script, a timer queue (delayed calls) and the console (lines in batches).
class ScriptedPage
{
public:
    /// `withConsole` false gives a window without a console object.
    explicit ScriptedPage(TestBrowser& browser, bool withConsole = true);
    ~ScriptedPage();
    ScriptedPage(const ScriptedPage&) = delete;
    ScriptedPage& operator=(const ScriptedPage&) = delete;

    /// A page function that "(name)" evaluates to; `body` answers its calls (void when empty).
    PageObject* function(const std::string& name, PageObject::Method body = {});

    /// Runs the delayed calls queued so far, as the page's timer would; returns how many ran.
    std::size_t runTimers();

    /// Runs the browser thread's queued calls until `done` holds or `limit` passes.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));

    /// Every console line in order, and those shown as warnings.
    std::vector<std::string> console;
    std::vector<std::string> warnings;
    /// Calls of the console function: one per batch of lines.
    std::size_t consoleCalls = 0;

private:
    struct Timer
    {
        PageValue function; // a page function or an object of the plug-in's, held by the page
        PageHandle args;    // likewise
    };

    TestBrowser& _browser;
    std::map<std::string, PageObject*> _functions;
    std::vector<Timer> _timers;
};

/// One plug-in element of the page: NPP_New with the given attributes and parameters.
struct ElementArgs
{
    std::vector<std::pair<std::string, std::string>> attributes{{"type", "application/x-veltra"}};
    std::vector<std::pair<std::string, std::string>> params;

    /// NPAPI's argument lists: the attributes, a "PARAM" marker without value, then the parameters.
    std::vector<char*> names();
    std::vector<char*> values();
};

} // namespace veltra::test
