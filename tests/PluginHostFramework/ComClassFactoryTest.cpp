// Ahead of the harness, whose X11 headers define Status as a macro.
#include "com/ComDispatchBridge.h"
#include "com/ComServer.h"
#include "com/ComVariant.h"
#include "logging/Log.h"
#include "plugincore/PluginCore.h"
#include "scripting/JSAPIAuto.h"

#include "BuildOutputs.h"
#include "PluginHarness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace FB::Com;

namespace {

const Guid kOtherClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
const Guid kUnknownInterface = {0xdeadbeef, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

// A root scripting object with one method.
class DoublingObject : public FB::JSAPIAuto
{
public:
    DoublingObject()
    {
        addMethod("twice", [](const FB::VariantList& args) { return 2 * args.at(0).convert_cast<int>(); });
    }
};

class CountingPlugin : public FB::PluginCore
{
public:
    CountingPlugin(int& shutdowns, bool scripted) : _shutdowns(shutdowns), _scripted(scripted) {}

protected:
    FB::JSAPIPtr createJSAPI() override { return _scripted ? std::make_shared<DoublingObject>() : nullptr; }
    void shutdown() override { ++_shutdowns; }

private:
    int& _shutdowns;
    bool _scripted;
};

/// Keeps sight of every plug-in object it makes and counts the module's initialisations.
class CountingFactory : public FB::FactoryBase
{
public:
    FB::PluginCorePtr createPlugin(const std::string& mimetype) override
    {
        mimeTypes.push_back(mimetype);
        if (refuse)
            return nullptr;
        auto plugin = std::make_shared<CountingPlugin>(shutdowns, scripted);
        plugins.push_back(plugin);
        return plugin;
    }
    void globalPluginInitialize() override { ++initialised; }
    void globalPluginDeinitialize() override { ++deinitialised; }

    bool refuse = false;
    bool scripted = false; // the plug-ins get a root scripting object
    std::vector<std::string> mimeTypes;
    std::vector<std::weak_ptr<FB::PluginCore>> plugins;
    int initialised = 0;
    int deinitialised = 0;
    int shutdowns = 0;
};

class ComClassFactory : public ::testing::Test
{
protected:
    IClassFactory* classFactory()
    {
        void* out = nullptr;
        EXPECT_EQ(_server.getClassObject(&ComServer::controlClassId(), &IID_IClassFactory, &out), S_OK);
        return static_cast<IClassFactory*>(out);
    }

    std::shared_ptr<CountingFactory> _factory = std::make_shared<CountingFactory>();
    ComServer _server{[this] { return _factory; }, "/opt/veltra/npveltra.so"};
};

TEST_F(ComClassFactory, OnlyTheControlsClassIsServed)
{
    const Guid& control = ComServer::controlClassId();
    EXPECT_EQ(control.toString(), "{c7e7969a-0ac9-50ab-9517-08defcd94162}");
    struct Case
    {
        const char* label;
        const Guid* classId;
        const Guid* iid;
        bool withOut;
        HResult expected;
    };
    const Case cases[] = {
        {"wrong class", &kOtherClass, &IID_IClassFactory, true, CLASS_E_CLASSNOTAVAILABLE},
        {"unknown interface", &control, &kUnknownInterface, true, E_NOINTERFACE},
        {"no class", nullptr, &IID_IClassFactory, true, E_INVALIDARG},
        {"no interface", &control, nullptr, true, E_INVALIDARG},
        {"nowhere to answer", &control, &IID_IClassFactory, false, E_POINTER},
        {"class factory", &control, &IID_IClassFactory, true, S_OK},
        {"unknown", &control, &IID_IUnknown, true, S_OK},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(_server.getClassObject(c.classId, c.iid, c.withOut ? &out : nullptr), c.expected);
        if (c.expected == S_OK)
        {
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 0u);
        }
        else if (c.withOut)
        {
            EXPECT_EQ(out, nullptr);
        }
        // Only a class factory handed out initialises the module.
        EXPECT_EQ(_factory->initialised, c.expected == S_OK ? 1 : 0);
        EXPECT_EQ(_server.liveObjects(), 0u);
    }
    EXPECT_EQ(FB::PluginCore::platform(), std::make_pair(std::string("Windows"), std::string("IE")));
    EXPECT_EQ(_server.canUnloadNow(), S_OK);
    EXPECT_EQ(_factory->deinitialised, 1);
    EXPECT_EQ(_server.canUnloadNow(), S_OK);
    EXPECT_EQ(_factory->deinitialised, 1); // once per initialisation
}

TEST_F(ComClassFactory, ObjectsAreCountedAndTheirReleaseDestroysThePlugin)
{
    IClassFactory* factory = classFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    void* asUnknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, &asUnknown), S_OK);
    EXPECT_EQ(asUnknown, static_cast<IUnknown*>(factory));
    EXPECT_EQ(factory->Release(), 1u);

    void* out = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), S_OK);
    auto* control = static_cast<IUnknown*>(out);
    ASSERT_EQ(_factory->plugins.size(), 1u);
    EXPECT_EQ(_factory->mimeTypes, std::vector<std::string>{"application/x-veltra"});
    EXPECT_EQ(control->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(control->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, control);
    EXPECT_EQ(_server.liveObjects(), 2u);

    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(_server.canUnloadNow(), S_FALSE); // the control still lives
    EXPECT_EQ(control->Release(), 1u);
    EXPECT_FALSE(_factory->plugins[0].expired());
    EXPECT_EQ(control->Release(), 0u);
    EXPECT_TRUE(_factory->plugins[0].expired());
    EXPECT_EQ(_factory->shutdowns, 1);
    EXPECT_EQ(_factory->deinitialised, 0);
    EXPECT_EQ(_server.canUnloadNow(), S_OK);
    EXPECT_EQ(_factory->deinitialised, 1);
}

TEST_F(ComClassFactory, TheControlHandsOutItsScriptingObjectThroughDispatch)
{
    for (const bool scripted : {true, false})
    {
        _factory->scripted = scripted;
        IClassFactory* factory = classFactory();
        void* out = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), S_OK);
        auto* control = static_cast<IUnknown*>(out);
        void* dispatch = nullptr;
        if (!scripted)
        {
            EXPECT_EQ(control->QueryInterface(IID_IDispatch, &dispatch), E_NOINTERFACE);
            EXPECT_EQ(dispatch, nullptr);
        }
        else
        {
            ASSERT_EQ(control->QueryInterface(IID_IDispatch, &dispatch), S_OK);
            auto* object = static_cast<IDispatch*>(dispatch);
            DispId twice = 0;
            ASSERT_EQ(object->GetDispID("twice", &twice), S_OK);
            ComVariant result;
            ASSERT_EQ(object->Invoke(twice, DISPATCH_METHOD, {ComVariant(std::int32_t{21})}, &result), S_OK);
            ASSERT_NE(result.int32Value(), nullptr);
            EXPECT_EQ(*result.int32Value(), 42);
            void* again = nullptr;
            ASSERT_EQ(control->QueryInterface(IID_IDispatchEx, &again), S_OK);
            static_cast<IUnknown*>(again)->Release();

            // The page may keep the scripting object after letting go of the control: the library stays.
            EXPECT_EQ(control->Release(), 0u);
            EXPECT_EQ(factory->Release(), 0u);
            EXPECT_EQ(_server.canUnloadNow(), S_FALSE);
            object->Release();
            EXPECT_EQ(_server.canUnloadNow(), S_OK);
            continue;
        }
        EXPECT_EQ(control->Release(), 0u);
        EXPECT_EQ(factory->Release(), 0u);
    }
}

TEST_F(ComClassFactory, CreateInstanceRefusesWhatItCannotMake)
{
    IClassFactory* factory = classFactory();
    ASSERT_NE(factory, nullptr);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, kUnknownInterface, &out), E_NOINTERFACE);
    ASSERT_EQ(_factory->plugins.size(), 1u);
    EXPECT_TRUE(_factory->plugins[0].expired()); // made, refused, and let go
    _factory->refuse = true;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(_server.liveObjects(), 0u);
}

TEST_F(ComClassFactory, LocksKeepTheModuleLoaded)
{
    IClassFactory* factory = classFactory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(_server.canUnloadNow(), S_FALSE);
    factory = classFactory();
    EXPECT_EQ(factory->LockServer(false), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(_server.canUnloadNow(), S_FALSE);
    EXPECT_EQ(_factory->deinitialised, 0);
    factory = classFactory();
    EXPECT_EQ(factory->LockServer(false), S_OK);
    EXPECT_EQ(factory->LockServer(false), E_FAIL); // no lock left to take back
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(_server.canUnloadNow(), S_OK);
    EXPECT_EQ(_factory->initialised, 1);
    EXPECT_EQ(_factory->deinitialised, 1);
}

// What the exports do in a library built like the real one, as a list of what went wrong (empty: nothing). Its
// own factory's plug-in object lives and dies with the control, and unloading is allowed once both are gone.
std::string classObjectThroughTheLibrary()
{
    veltra::test::PluginLibrary library(veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY));
    const auto getClassObject = library.symbol<HResult (*)(const Guid*, const Guid*, void**)>("DllGetClassObject");
    const auto canUnloadNow = library.symbol<HResult (*)()>("DllCanUnloadNow");
    std::string wrong;
    auto check = [&wrong](bool holds, const char* what) {
        if (!holds)
            wrong += std::string(what) + "\n";
        return holds;
    };
    void* out = nullptr;
    check(getClassObject(&kOtherClass, &IID_IClassFactory, &out) == CLASS_E_CLASSNOTAVAILABLE, "other class served");
    if (!check(getClassObject(&ComServer::controlClassId(), &IID_IClassFactory, &out) == S_OK, "no class factory"))
        return wrong;
    auto* factory = static_cast<IClassFactory*>(out);
    if (!check(factory->CreateInstance(nullptr, IID_IUnknown, &out) == S_OK, "no control"))
        return wrong;
    auto* control = static_cast<IUnknown*>(out);
    check(factory->Release() == 0, "factory still referenced");
    check(canUnloadNow() == S_FALSE, "unloadable while the control lives");
    check(control->Release() == 0, "control still referenced");
    check(canUnloadNow() == S_OK, "not unloadable at the end");
    check(veltra::test::PluginLibrary::tracedInOrder({"TestPlugin: global initialize", "TestPlugin: created",
                                                      "TestPlugin: shutdown", "TestPlugin: destroyed",
                                                      "TestPlugin: global deinitialize"}),
          "plug-in lifecycle not traced in order");
    return wrong;
}

// In a child process: the library stays loaded after dlclose, and the platform it records is once per process,
// which the NPAPI tests that share the process read as Linux.
TEST(ComExportsDeathTest, ClassObjectControlAndUnloadThroughTheLibrary)
{
    EXPECT_EXIT(
        {
            const std::string wrong = classObjectThroughTheLibrary();
            std::fputs(wrong.c_str(), stderr);
            std::_Exit(wrong.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ComExports, CddTestPrintsDone)
{
    veltra::test::PluginLibrary library(veltra::test::builtLibrary(VELTRA_TEST_PLUGIN_LIBRARY));
    const auto test = library.symbol<void (*)()>("_ZN3CDD4testEv"); // CDD::test()
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    test();
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "done\n");
}

} // namespace
