#include "browser/HostFunctions.h"
#include "browser/PageScript.h"
#include "browser/PluginModule.h"

#include "BuildOutputs.h"

#undef None
#undef Bool

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace veltra::host;

namespace {

std::string testPlugin()
{
    return veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY);
}

std::string veltraPlugin()
{
    return veltra::test::builtLibrary(VELTRA_PLUGIN_LIBRARY);
}

std::size_t threadCount()
{
    std::size_t count = 0;
    if (DIR* tasks = opendir("/proc/self/task"))
    {
        while (dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

bool waitFor(const std::function<bool()>& done)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The test plug-in's trace lines, collected through the one export it has for tests.
std::mutex g_traceLock;
std::vector<std::string> g_traces;

void collectTrace(const char* source, const char* message)
{
    std::lock_guard<std::mutex> guard(g_traceLock);
    g_traces.push_back(std::string(source) + ": " + message);
}

bool traced(const std::string& line)
{
    std::lock_guard<std::mutex> guard(g_traceLock);
    return std::find(g_traces.begin(), g_traces.end(), line) != g_traces.end();
}

void listenToTraces(const std::string& library)
{
    {
        std::lock_guard<std::mutex> guard(g_traceLock);
        g_traces.clear();
    }
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    auto setSink =
        reinterpret_cast<void (*)(void (*)(const char*, const char*))>(dlsym(handle, "veltraTestSetTraceSink"));
    ASSERT_NE(setSink, nullptr);
    setSink(collectTrace);
    dlclose(handle); // the module keeps it open
}

// A page: a window (1) with a console (2) and named functions; every handle it hands out is counted until released.
class FakePage : public PageScript
{
public:
    explicit FakePage(BrowserLoop& loop) : _loop(loop) {}

    PageHandle window() override { return handOut(1); }

    PageValue evaluate(const std::string& script) override
    {
        std::lock_guard<std::mutex> guard(lock);
        checkThread();
        evaluated.push_back(script);
        if (script.rfind("window.__FB_CALL_", 0) == 0 || script.rfind("window.__FB_CONSOLE", 0) == 0)
            return {};
        auto found = functions.find(script.substr(1, script.size() - 2));
        if (script.front() != '(' || found == functions.end())
            throw PageScriptError("SyntaxError");
        return PageValue::pageObject(handOut(found->second));
    }

    PageValue invoke(PageHandle object, const std::string& method, const std::vector<PageValue>& args) override
    {
        std::lock_guard<std::mutex> guard(lock);
        checkThread();
        if (object == 2 && method == "log" && !args.empty())
        {
            console.push_back(args[0].asString());
            return {};
        }
        // The plug-in's batched console lines: the levels, then one argument per line.
        if (object == 1 && method == "__FB_CONSOLE" && !args.empty())
        {
            for (std::size_t i = 1; i < args.size(); ++i)
                console.push_back(args[i].asString());
            return PageValue::boolean(true);
        }
        throw PageScriptError("no method " + method);
    }

    PageValue invokeDefault(PageHandle object, const std::vector<PageValue>& args) override
    {
        std::lock_guard<std::mutex> guard(lock);
        checkThread();
        if (object == functions["twice"] && args.size() == 1)
            return PageValue::string(args[0].asString() + args[0].asString());
        return {};
    }

    PageValue getProperty(PageHandle object, const std::string& name) override
    {
        std::lock_guard<std::mutex> guard(lock);
        checkThread();
        if (object == 1 && name == "console")
            return PageValue::pageObject(handOut(2));
        if (object == 1 && functions.count(name))
            return PageValue::pageObject(handOut(functions[name]));
        return {};
    }

    void setProperty(PageHandle, const std::string&, const PageValue&) override
    {
        throw PageScriptError("read-only page");
    }
    bool hasMethod(PageHandle object, const std::string& name) override { return object == 2 && name == "log"; }
    bool hasProperty(PageHandle object, const std::string& name) override { return object == 1 && name == "console"; }

    void release(PageHandle object) noexcept override
    {
        std::lock_guard<std::mutex> guard(lock);
        checkThread();
        --held[object];
    }

    /// References handed out and not given back.
    int stillHeld()
    {
        std::lock_guard<std::mutex> guard(lock);
        int total = 0;
        for (auto& entry : held)
            total += entry.second;
        return total;
    }

    std::mutex lock; // the page is called on the browser thread and read by the test
    std::map<std::string, PageHandle> functions{{"loaded", 10}, {"twice", 11}};
    std::vector<std::string> evaluated;
    std::vector<std::string> console;
    std::map<PageHandle, int> held;
    bool offThread = false;

private:
    PageHandle handOut(PageHandle handle)
    {
        ++held[handle];
        return handle;
    }
    void checkThread() { offThread = offThread || !_loop.isBrowserThread(); }

    BrowserLoop& _loop;
};

NPVariant text(const char* value)
{
    NPVariant variant;
    STRINGZ_TO_NPVARIANT(value, variant);
    return variant;
}

std::string textOf(const NPVariant& value)
{
    return value.type == NPVariantType_String
               ? std::string(value.value.stringValue.UTF8Characters, value.value.stringValue.UTF8Length)
               : "(not a string)";
}

// Calls `method` on `object` on the browser thread; the result as text, or "failed".
std::string call(HostFunctions& host, NPP npp, NPObject* object, const char* method, std::vector<NPVariant> args)
{
    return host.loop().runSync([&] {
        NPNetscapeFuncs& npn = *host.table();
        NPVariant result;
        if (!npn.invoke(npp, object, npn.getstringidentifier(method), args.data(), static_cast<uint32_t>(args.size()),
                        &result))
            return std::string("failed");
        std::string answer = result.type == NPVariantType_Void ? "" : textOf(result);
        npn.releasevariantvalue(&result);
        return answer;
    });
}

} // namespace

TEST(BrowserLoopThreads, RunsTasksInOrderOnItsThreadAndStopsCleanly)
{
    BrowserLoop loop;
    std::vector<int> order;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(loop.post([&order, &loop, i] { order.push_back(loop.isBrowserThread() ? i : -1); }));
    EXPECT_EQ(loop.runSync([&] { return order.size(); }), 5u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(loop.isBrowserThread());

    // Nested on the browser thread it runs at once instead of waiting on itself.
    EXPECT_EQ(loop.runSync([&] { return loop.runSync([] { return 7; }) + 1; }), 8);
    EXPECT_THROW(loop.runSync([]() -> int { throw PageScriptError("page said no"); }), PageScriptError);
    EXPECT_THROW(loop.runSync([&] { loop.stop(); }), std::logic_error) << "the thread cannot join itself";
    EXPECT_EQ(loop.runSync([] { return 1; }), 1) << "a failed task leaves the loop running";

    // Stopping drops what is still queued behind the running task.
    std::promise<void> started;
    bool late = false;
    loop.post([&] {
        started.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    loop.post([&] { late = true; });
    started.get_future().wait();
    loop.stop();
    EXPECT_FALSE(late);
    EXPECT_FALSE(loop.post([] {}));
    EXPECT_THROW(loop.runSync([] { return 0; }), std::runtime_error);
    loop.stop();
}

TEST(BrowserLoopThreads, ACallerDrivenLoopRunsTasksWhenItsThreadAsks)
{
    BrowserLoop loop(BrowserLoop::Driver::Caller);
    EXPECT_TRUE(loop.isBrowserThread());
    std::thread::id ranOn;
    std::thread worker([&] {
        loop.post([&] {
            ranOn = std::this_thread::get_id();
            loop.post([] {});
        });
    });
    worker.join();
    EXPECT_EQ(loop.pendingCount(), 1u);
    EXPECT_EQ(loop.runPending(), 1u);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(loop.pendingCount(), 1u) << "what a task queues waits for the next turn";

    // Another thread's synchronous call waits until the driving thread runs it.
    std::future<int> answer = std::async(std::launch::async, [&] { return loop.runSync([] { return 5; }); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (loop.pendingCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(loop.runPending(), 2u);
    EXPECT_EQ(answer.get(), 5);
    std::async(std::launch::async, [&] { EXPECT_THROW(loop.runPending(), std::logic_error); }).get();

    loop.post([] {});
    loop.stop(); // from the driving thread: nothing to join, the queue is dropped
    EXPECT_FALSE(loop.post([] {}));
    EXPECT_EQ(loop.runPending(), 0u);
}

TEST(BrowserPluginThreads, InstanceLifecycleReachesThePageThroughProxies)
{
    // A sanitizer runtime starts a helper thread of its own with the first thread; let it start first.
    std::thread([] {}).join();
    std::size_t threadsBefore = threadCount();
    {
        BrowserLoop loop;
        HostFunctions host(loop);
        FakePage page(loop);
        {
            PluginModule module(testPlugin(), host);
            listenToTraces(testPlugin());
            EXPECT_NE(module.mimeDescription().find("application/x-veltra"), std::string::npos);
            EXPECT_THROW(module.createInstance("text/plain", {}, page), PluginError);

            auto instance =
                module.createInstance("application/x-veltra", {{"windowless", "true"}, {"onload", "loaded"}}, page);
            EXPECT_TRUE(instance->windowless());
            EXPECT_TRUE(traced("TestPlugin: created"));
            EXPECT_TRUE(traced("PluginCore: Found <param> event handler: onload"));
            EXPECT_TRUE(traced("TestPlugin: ready"));
            loop.runSync([] {}); // the console lines go out after the call that logged them
            {
                std::lock_guard<std::mutex> guard(page.lock);
                EXPECT_EQ(page.console, std::vector<std::string>{"plugin ready"}) << "window.console.log";
                EXPECT_NE(std::find(page.evaluated.begin(), page.evaluated.end(), "(loaded)"), page.evaluated.end());
            }

            ObjectRef api = instance->scriptableObject();
            ASSERT_TRUE(api);
            EXPECT_EQ(call(host, instance->npp(), api.get(), "log", {text("hello")}), "");
            loop.runSync([] {});
            {
                std::lock_guard<std::mutex> guard(page.lock);
                ASSERT_FALSE(page.console.empty());
                EXPECT_EQ(page.console.back(), "hello");
            }

            // A worker's call into the page waits for the browser thread, which runs it through a proxy.
            NPObject* twice = loop.runSync([&] {
                NPNetscapeFuncs& npn = *host.table();
                NPObject* window = nullptr;
                NPVariant function;
                VOID_TO_NPVARIANT(function);
                if (npn.getvalue(instance->npp(), NPNVWindowNPObject, &window) == NPERR_NO_ERROR)
                    npn.getproperty(instance->npp(), window, npn.getstringidentifier("twice"), &function);
                npn.releaseobject(window);
                return function.type == NPVariantType_Object ? function.value.objectValue : nullptr;
            });
            ASSERT_NE(twice, nullptr);
            NPVariant functionArg;
            OBJECT_TO_NPVARIANT(twice, functionArg);
            EXPECT_EQ(call(host, instance->npp(), api.get(), "callFromWorker", {functionArg, text("ab")}), "");
            EXPECT_TRUE(waitFor([] { return traced("TestPlugin: worker result: abab"); }));
            loop.runSync([&] {
                host.table()->releaseobject(twice);
                api.reset();
            });

            // Asynchronous calls run for live instances only.
            bool ranLive = false;
            bool ranDead = false;
            auto mark = [](void* flag) { *static_cast<bool*>(flag) = true; };
            host.table()->pluginthreadasynccall(instance->npp(), mark, &ranLive);
            instance->destroy();
            EXPECT_TRUE(traced("TestPlugin: shutdown"));
            EXPECT_TRUE(traced("TestPlugin: destroyed"));
            host.table()->pluginthreadasynccall(instance->npp(), mark, &ranDead);
            loop.runSync([] {});
            EXPECT_TRUE(ranLive);
            EXPECT_FALSE(ranDead);
            EXPECT_EQ(call(host, instance->npp(), nullptr, "log", {}), "failed");

            module.shutdown();
            EXPECT_TRUE(traced("TestPlugin: global deinitialize"));
            EXPECT_THROW(module.createInstance("application/x-veltra", {}, page), PluginError);
        }
        EXPECT_EQ(host.liveObjects(), 0u);
        EXPECT_EQ(page.stillHeld(), 0) << "every page reference given back";
        std::lock_guard<std::mutex> guard(page.lock);
        EXPECT_FALSE(page.offThread) << "the page is called on the browser thread only";
    }
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(BrowserPluginThreads, ModuleShutdownDestroysInstancesLeftAlive)
{
    BrowserLoop loop;
    HostFunctions host(loop);
    FakePage page(loop);
    auto module = std::make_unique<PluginModule>(testPlugin(), host);
    listenToTraces(testPlugin());
    auto instance = module->createInstance("application/x-veltra", {}, page);
    EXPECT_FALSE(instance->windowless()) << "waits for a window";
    module.reset();
    EXPECT_TRUE(traced("TestPlugin: destroyed"));
    EXPECT_FALSE(instance->alive());
    EXPECT_EQ(instance->setWindow(0x2a, 10, 10), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_FALSE(instance->scriptableObject());
    EXPECT_EQ(host.liveObjects(), 0u);

    EXPECT_THROW(PluginModule("/nonexistent/npnothing.so", host), PluginError);
}

TEST(BrowserVeltraThreads, RealPluginEchoesWithoutAWindow)
{
    BrowserLoop loop;
    HostFunctions host(loop);
    FakePage page(loop);
    {
        PluginModule module(veltraPlugin(), host);
        auto instance = module.createInstance("application/x-veltra", {{"windowless", "false"}}, page);
        ObjectRef api = instance->scriptableObject();
        ASSERT_TRUE(api);
        EXPECT_EQ(call(host, instance->npp(), api.get(), "echo", {text("hello veltra")}), "hello veltra");
        loop.runSync([&] { api.reset(); });
        instance->destroy();
    }
    EXPECT_EQ(host.liveObjects(), 0u);
    EXPECT_EQ(page.stillHeld(), 0);
}
