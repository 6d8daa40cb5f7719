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

ScriptedPage::ScriptedPage(TestBrowser& browser, bool withConsole) : _browser(browser)
{
    TestPage& page = browser.page();
    if (withConsole)
    {
        PageObject* pageConsole = browser.createPageObject();
        pageConsole->methods["log"] = [this](const std::vector<PageValue>& args) {
            console.push_back(args.empty() ? "" : args[0].asString());
            return PageValue();
        };
        page.setProperty(*browser.window(), "console", PageValue::pageObject(pageConsole->handle));
        browser.release(pageConsole);
    }

    // What the plug-in's console function does: the first argument has a letter per line ("w" warns), the
    // lines follow; false without a console.
    auto consoleFunction = [this](const std::vector<PageValue>& args) {
        ++consoleCalls;
        bool hasConsole = _browser.window()->properties.count("console") > 0;
        if (!hasConsole || args.empty() || args[0].type() != PageValue::Type::String)
            return PageValue::boolean(hasConsole);
        const std::string& levels = args[0].asString();
        for (std::size_t i = 1; i < args.size(); ++i)
        {
            console.push_back(args[i].asString());
            if (i - 1 < levels.size() && levels[i - 1] == 'w')
                warnings.push_back(console.back());
        }
        return PageValue::boolean(true);
    };

    browser.enablePageArrays();

    browser.setEvaluator([this, consoleFunction](const std::string& script) {
        const std::string consoleInstaller = "window.__FB_CONSOLE = function";
        if (script.compare(0, consoleInstaller.size(), consoleInstaller) == 0)
        {
            _browser.window()->methods["__FB_CONSOLE"] = consoleFunction;
            return PageValue();
        }
        const std::string installer = "window.__FB_CALL_";
        if (script.compare(0, installer.size(), installer) == 0)
        {
            std::string name = script.substr(7, script.find(' ') - 7);
            _browser.window()->methods[name] = [this](const std::vector<PageValue>& args) {
                if (args.size() != 3 || args[2].type() != PageValue::Type::PageObject)
                    throw host::PageScriptError("a delayed call takes a delay, a function and an array");
                _timers.push_back({_browser.page().hold(args[1]), args[2].asPageObject()});
                _browser.page().retain(args[2].asPageObject());
                return PageValue();
            };
            return PageValue();
        }
        if (script.size() > 2 && script.front() == '(' && script.back() == ')')
        {
            auto found = _functions.find(script.substr(1, script.size() - 2));
            if (found != _functions.end())
                return _browser.page().handOut(found->second);
        }
        throw host::PageScriptError("what the page cannot evaluate throws");
    });
}

ScriptedPage::~ScriptedPage()
{
    _browser.setEvaluator({});
    for (Timer& timer : _timers)
    {
        _browser.page().drop(timer.function);
        _browser.page().release(timer.args);
    }
    // The window outlives the page; what it holds of ours goes with us.
    PageObject* window = _browser.window();
    window->methods.clear();
    while (!window->properties.empty())
        _browser.page().removeProperty(*window, window->properties.begin()->first);
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
        std::vector<PageValue> args;
        if (PageObject* array = _browser.page().find(timer.args))
            for (std::size_t i = 0; i < array->properties.size(); ++i)
                args.push_back(array->properties[std::to_string(i)]);
        if (timer.function.type() == PageValue::Type::PageObject)
        {
            // A page function: the page calls it itself, and a failure stays in the page.
            try
            {
                _browser.page().drop(_browser.page().invokeDefault(timer.function.asPageObject(), args));
            }
            catch (const std::exception&)
            {}
        }
        else
        {
            std::vector<NPVariant> variants;
            for (const PageValue& arg : args)
                variants.push_back(_browser.variant(arg));
            NPVariant ignored;
            _browser.funcs()->invokeDefault(_browser.npp(), timer.function.asPluginObject(), variants.data(),
                                            static_cast<uint32_t>(variants.size()), &ignored);
            _browser.funcs()->releasevariantvalue(&ignored);
            for (NPVariant& variant : variants)
                _browser.funcs()->releasevariantvalue(&variant);
        }
        _browser.page().drop(timer.function);
        _browser.page().release(timer.args);
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
