// A plug-in library built like the real one (framework, entry points, a factory) whose plug-in object
// reports everything it sees as trace lines under the tag "TestPlugin". The harness reads the traces
// through the one extra export below and drives everything else through the NPAPI exports.

#include "logging/Log.h"
#include "plugincore/FactoryBase.h"
#include "plugincore/PluginEvents.h"
#include "scripting/JSAPIAuto.h"
#include "scripting/JSObject.h"
#include "scripting/MethodWrapper.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

void report(const std::string& message)
{
    FB::Log::trace("TestPlugin", message);
}

class TestPlugin;

// The root scripting object: starts work on other threads that reach back into the page.
class TestAPI : public FB::JSAPIAuto
{
public:
    explicit TestAPI(std::weak_ptr<TestPlugin> plugin);

private:
    std::weak_ptr<TestPlugin> _plugin;
};

class TestPlugin : public FB::PluginCore
{
public:
    TestPlugin() { report("created"); }

    ~TestPlugin() override
    {
        // Workers may be waiting on the browser thread; the host has shut down by now, which ends their wait.
        for (std::thread& worker : _workers)
            worker.join();
        report("destroyed");
    }

    /// Calls `function` with `argument` from a new thread; the result or error is reported.
    void callFromWorker(const FB::JSObjectPtr& function, const std::string& argument)
    {
        _workers.emplace_back([function, argument] {
            try
            {
                FB::variant result = function->invokeDefault({argument});
                report("worker result: " + result.convert_cast<std::string>());
            }
            catch (const std::exception& error)
            {
                report(std::string("worker error: ") + error.what());
            }
        });
    }

    /// Raises `event` on the root scripting object from a new thread, and logs to the page from it.
    void raiseFromWorker(const std::string& event, const std::string& argument)
    {
        FB::JSAPIPtr api = getRootJSAPI();
        FB::BrowserHostPtr host = getHost();
        std::thread worker([api, host, event, argument] {
            api->raiseEvent(event, {argument});
            host->logToPage("from worker: " + argument);
            report("worker raised " + event);
        });
        worker.join(); // neither call waits for the browser thread, so this returns at once
    }

    /// Logs `text` to the page console; with a `count`, that many lines "text 0", "text 1", ... in one call.
    void log(const std::string& text, int count)
    {
        if (count <= 0)
            getHost()->logToPage(text);
        for (int i = 0; i < count; ++i)
            getHost()->logToPage(text + " " + std::to_string(i));
    }

    bool handleEvent(const FB::PluginEvent& event, FB::PluginWindow* window) override
    {
        if (event.as<FB::AttachedEvent>())
            report("attached " + std::to_string(window->getNativeHandle() != 0) + " " +
                   std::to_string(window->getWindowWidth()) + "x" + std::to_string(window->getWindowHeight()));
        else if (event.as<FB::DetachedEvent>())
            report("detached");
        else if (auto* down = event.as<FB::MouseDownEvent>())
            report("mousedown " + std::to_string(down->x) + "," + std::to_string(down->y));
        else if (auto* scroll = event.as<FB::MouseScrollEvent>())
            report("scroll " + std::to_string(static_cast<int>(scroll->deltaY)));
        // Presses with Control held are consumed, so the harness can see that they are not passed on.
        auto* button = event.as<FB::MouseButtonEvent>();
        return button && (button->modifiers & FB::ModifierControl);
    }

protected:
    FB::JSAPIPtr createJSAPI() override
    {
        report("createJSAPI");
        auto api = std::make_shared<TestAPI>(std::static_pointer_cast<TestPlugin>(shared_from_this()));
        api->addEvent("onping");
        return api;
    }

    void onPluginReady() override
    {
        report("ready");
        getHost()->logToPage("plugin ready");
    }

    void shutdown() override { report("shutdown"); }

private:
    std::vector<std::thread> _workers;
};

TestAPI::TestAPI(std::weak_ptr<TestPlugin> owner) : _plugin(std::move(owner))
{
    auto call = [this](auto member) {
        return [this, member](const FB::VariantList& args) -> FB::variant {
            auto target = _plugin.lock();
            if (!target)
                throw FB::script_error("The plugin is gone");
            member(*target, args);
            return FB::variant();
        };
    };
    addMethod("callFromWorker", call([](TestPlugin& plugin, const FB::VariantList& args) {
                  plugin.callFromWorker(args.at(0).convert_cast<FB::JSObjectPtr>(),
                                        args.size() > 1 ? args[1].convert_cast<std::string>() : "");
              }));
    addMethod("raiseFromWorker", call([](TestPlugin& plugin, const FB::VariantList& args) {
                  plugin.raiseFromWorker(args.at(0).convert_cast<std::string>(), args.at(1).convert_cast<std::string>());
              }));
    addMethod("platform", [](const FB::VariantList&) -> FB::variant {
        auto [os, browser] = FB::PluginCore::platform();
        return os + "/" + browser;
    });
    // Runs a script in the page while the call waits: the page is reached during a page call.
    addMethod("evaluate", [this](const FB::VariantList& args) -> FB::variant {
        auto target = _plugin.lock();
        if (!target)
            throw FB::script_error("The plugin is gone");
        return target->getHost()->evaluateScript(args.at(0).convert_cast<std::string>());
    });
    // A fault in the viewer: the process ends as a crashing driver or reader ends it.
    addMethod("abort", [](const FB::VariantList&) -> FB::variant { std::abort(); });
    addMethod("log", call([](TestPlugin& plugin, const FB::VariantList& args) {
                  plugin.log(args.at(0).convert_cast<std::string>(), args.size() > 1 ? args[1].convert_cast<int>() : 0);
              }));
}

class TestFactory : public FB::FactoryBase
{
public:
    FB::PluginCorePtr createPlugin(const std::string& mimetype) override
    {
        if (mimetype != "application/x-veltra")
            return nullptr;
        return std::make_shared<TestPlugin>();
    }
    void globalPluginInitialize() override { report("global initialize"); }
    void globalPluginDeinitialize() override { report("global deinitialize"); }
};

} // namespace

FB::FactoryBasePtr getFactoryInstance()
{
    return std::make_shared<TestFactory>();
}

/// The harness's window into the library: every trace line goes to `sink` (null restores the default).
extern "C" __attribute__((visibility("default"))) void veltraTestSetTraceSink(void (*sink)(const char* source,
                                                                                           const char* message))
{
    if (!sink)
    {
        FB::Log::setSink({});
        return;
    }
    FB::Log::setSink([sink](const std::string& source, const std::string& message) {
        sink(source.c_str(), message.c_str());
    });
}
