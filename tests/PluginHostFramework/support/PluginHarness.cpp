#include "PluginHarness.h"

#include <dlfcn.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace veltra::test {
namespace {

std::mutex g_traceLock;
std::vector<std::string> g_traces;

void collectTrace(const char* source, const char* message)
{
    std::lock_guard<std::mutex> lock(g_traceLock);
    g_traces.push_back(std::string(source) + ": " + message);
}

using SetTraceSink = void (*)(void (*)(const char*, const char*));

} // namespace

PluginLibrary::PluginLibrary(const std::string& path)
{
    _handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!_handle)
        throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
    getEntryPoints = symbol<NP_GetEntryPointsFunc>("NP_GetEntryPoints");
    initialize = symbol<NP_InitializeFunc>("NP_Initialize");
    shutdown = symbol<NP_ShutdownFunc>("NP_Shutdown");
    getMIMEDescription = symbol<NP_GetMIMEDescriptionFunc>("NP_GetMIMEDescription");
    getValue = symbol<NP_GetValueFunc>("NP_GetValue");
    clearTraces();
    setTraceSink(collectTrace);
}

PluginLibrary::~PluginLibrary()
{
    setTraceSink(nullptr);
    dlclose(_handle);
}

void PluginLibrary::setTraceSink(void (*sink)(const char*, const char*)) const
{
    if (auto set = reinterpret_cast<SetTraceSink>(dlsym(_handle, "veltraTestSetTraceSink")))
        set(sink);
}

void* PluginLibrary::lookup(const char* name) const
{
    void* address = dlsym(_handle, name);
    if (!address)
        throw std::runtime_error(std::string("missing export ") + name);
    return address;
}

std::vector<std::string> PluginLibrary::traces()
{
    std::lock_guard<std::mutex> lock(g_traceLock);
    return g_traces;
}

void PluginLibrary::clearTraces()
{
    std::lock_guard<std::mutex> lock(g_traceLock);
    g_traces.clear();
}

bool PluginLibrary::tracedInOrder(const std::vector<std::string>& lines)
{
    std::vector<std::string> all = traces();
    auto from = all.begin();
    for (const std::string& line : lines)
    {
        from = std::find(from, all.end(), line);
        if (from == all.end())
            return false;
        ++from;
    }
    return true;
}

ScriptedPage::ScriptedPage(FakeBrowser& browser, bool withConsole) : _browser(browser)
{
    PageObject* window = browser.window();
    if (withConsole)
    {
        PageObject* pageConsole = browser.createPageObject();
        pageConsole->methods["log"] = [this](const NPVariant* args, uint32_t count, NPVariant*) {
            console.push_back(count ? FakeBrowser::text(args[0]) : "");
            return true;
        };
        NPVariant value;
        OBJECT_TO_NPVARIANT(pageConsole, value);
        window->setProperty("console", value);
        browser.release(pageConsole);
    }

    // What the plug-in's console function does: the first argument has a letter per line ("w" warns), the
    // lines follow; false without a console.
    auto consoleFunction = [this](const NPVariant* args, uint32_t count, NPVariant* result) {
        ++consoleCalls;
        bool hasConsole = _browser.window()->properties.count("console") > 0;
        BOOLEAN_TO_NPVARIANT(hasConsole, *result);
        if (!hasConsole || count == 0 || !NPVARIANT_IS_STRING(args[0]))
            return true;
        std::string levels = FakeBrowser::text(args[0]);
        for (uint32_t i = 1; i < count; ++i)
        {
            console.push_back(FakeBrowser::text(args[i]));
            if (i - 1 < levels.size() && levels[i - 1] == 'w')
                warnings.push_back(console.back());
        }
        return true;
    };

    browser.enablePageArrays();

    browser.setEvaluator([this, consoleFunction](const std::string& script, NPVariant* result) {
        const std::string consoleInstaller = "window.__FB_CONSOLE = function";
        if (script.compare(0, consoleInstaller.size(), consoleInstaller) == 0)
        {
            _browser.window()->methods["__FB_CONSOLE"] = consoleFunction;
            return true;
        }
        const std::string installer = "window.__FB_CALL_";
        if (script.compare(0, installer.size(), installer) == 0)
        {
            std::string name = script.substr(7, script.find(' ') - 7);
            _browser.window()->methods[name] = [this](const NPVariant* args, uint32_t count, NPVariant*) {
                if (count != 3)
                    return false;
                _timers.push_back({FakeBrowser::copy(args[1]), FakeBrowser::copy(args[2])});
                return true;
            };
            return true;
        }
        if (script.size() > 2 && script.front() == '(' && script.back() == ')')
        {
            auto found = _functions.find(script.substr(1, script.size() - 2));
            if (found != _functions.end())
            {
                _browser.funcs()->retainobject(found->second);
                OBJECT_TO_NPVARIANT(found->second, *result);
                return true;
            }
        }
        return false; // what the page cannot evaluate throws
    });
}

ScriptedPage::~ScriptedPage()
{
    _browser.setEvaluator({});
    for (Timer& timer : _timers)
    {
        _browser.funcs()->releasevariantvalue(&timer.function);
        _browser.funcs()->releasevariantvalue(&timer.args);
    }
    // The window outlives the page; what it holds of ours goes with us.
    PageObject* window = _browser.window();
    window->methods.clear();
    for (auto& entry : window->properties)
        _browser.funcs()->releasevariantvalue(&entry.second);
    window->properties.clear();
    for (auto& entry : _functions)
        _browser.release(entry.second);
}

PageObject* ScriptedPage::function(const std::string& name, PageObject::Method body)
{
    PageObject* object = _browser.createPageObject();
    object->call = std::move(body);
    _functions[name] = object;
    return object;
}

std::size_t ScriptedPage::runTimers()
{
    std::vector<Timer> due;
    due.swap(_timers);
    for (Timer& timer : due)
    {
        auto* array = static_cast<PageObject*>(NPVARIANT_TO_OBJECT(timer.args));
        std::vector<NPVariant> args;
        for (std::size_t i = 0; i < array->properties.size(); ++i)
            args.push_back(array->properties[std::to_string(i)]);
        NPVariant ignored;
        VOID_TO_NPVARIANT(ignored);
        _browser.funcs()->invokeDefault(_browser.npp(), NPVARIANT_TO_OBJECT(timer.function), args.data(),
                                        static_cast<uint32_t>(args.size()), &ignored);
        _browser.funcs()->releasevariantvalue(&ignored);
        _browser.funcs()->releasevariantvalue(&timer.function);
        _browser.funcs()->releasevariantvalue(&timer.args);
    }
    return due.size();
}

bool ScriptedPage::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (_browser.runPendingCalls() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<char*> ElementArgs::names()
{
    std::vector<char*> list;
    for (auto& entry : attributes)
        list.push_back(entry.first.data());
    list.push_back(const_cast<char*>("PARAM"));
    for (auto& entry : params)
        list.push_back(entry.first.data());
    return list;
}

std::vector<char*> ElementArgs::values()
{
    std::vector<char*> list;
    for (auto& entry : attributes)
        list.push_back(entry.second.data());
    list.push_back(nullptr);
    for (auto& entry : params)
        list.push_back(entry.second.data());
    return list;
}

} // namespace veltra::test
