#include "com/ComDispatchBridge.h"
#include "com/ComVariant.h"
#include "scripting/JSAPIAuto.h"

#include "SampleScriptable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace FB::Com;
using FB::variant;
using FB::VariantList;

namespace {

class TestObject : public veltra::test::SampleScriptable
{
public:
    TestObject()
    {
        addMethod("fail", [](const VariantList&) -> variant { throw std::runtime_error("disk on fire"); });
        addMethod("make", FB::make_method(this, &TestObject::make));
        addMethod("read", [](const VariantList& args) {
            return args.at(0).convert_cast<FB::JSObjectPtr>()->getProperty(args.at(1).convert_cast<std::string>());
        });
    }

    // Values the plug-in side produces that the host side has no direct type for.
    variant make(const std::string& kind)
    {
        if (kind == "big")
            return variant(1LL << 40);
        if (kind == "unsigned")
            return variant(5u);
        if (kind == "float")
            return variant(0.5f);
        if (kind == "wide")
            return variant(std::wstring(L"gr\u00fcn"));
        if (kind == "list")
            return variant(VariantList{1, "two"});
        if (kind == "self")
            return variant(shared_from_this());
        return variant();
    }
};

// A script host's function object: records what its default member is called with.
class RecordingHandler final : public IDispatch
{
public:
    HResult QueryInterface(const Guid& iid, void** out) override
    {
        if (iid != IID_IUnknown && iid != IID_IDispatch)
            return E_NOINTERFACE;
        AddRef();
        *out = static_cast<IDispatch*>(this);
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++references; }
    std::uint32_t Release() override { return --references; } // lives on the test's stack
    // One property besides the default member: "name", read-only.
    HResult GetDispID(const std::string& name, DispId* id) override
    {
        *id = name == "name" ? kNameId : DISPID_UNKNOWN;
        return *id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
    }
    HResult Invoke(DispId id, std::uint16_t flags, const std::vector<ComVariant>& args, ComVariant* result) override
    {
        if (id == kNameId && flags == DISPATCH_PROPERTYGET)
        {
            *result = ComVariant("handler");
            return S_OK;
        }
        if (id != DISPID_VALUE || flags != DISPATCH_METHOD)
            return DISP_E_MEMBERNOTFOUND;
        calls.push_back(args);
        return S_OK;
    }

    static constexpr DispId kNameId = 7;

    std::atomic<std::uint32_t> references{1};
    std::vector<std::vector<ComVariant>> calls;
};

struct Outcome
{
    HResult result;
    ComVariant value;
};

// The in-process client: what a script engine does with a dispatch object, by name.
class DispatchClient
{
public:
    explicit DispatchClient(IDispatch* object) : _object(object) {}

    Outcome call(const std::string& name, const std::vector<ComVariant>& args = {},
                 std::uint16_t flags = DISPATCH_METHOD)
    {
        DispId id = DISPID_UNKNOWN;
        HResult found = _object->GetDispID(name, &id);
        if (failed(found))
            return {found, ComVariant()};
        Outcome outcome{S_OK, ComVariant()};
        outcome.result = _object->Invoke(id, flags, args, &outcome.value);
        return outcome;
    }
    Outcome get(const std::string& name) { return call(name, {}, DISPATCH_PROPERTYGET); }
    Outcome put(const std::string& name, const ComVariant& value) { return call(name, {value}, DISPATCH_PROPERTYPUT); }
    std::string lastException()
    {
        const Outcome outcome = call("getLastException");
        return outcome.value.stringValue() ? *outcome.value.stringValue() : "<not a string>";
    }

private:
    IDispatch* _object;
};

class ComDispatch : public ::testing::Test
{
protected:
    ComDispatch()
        : api(std::make_shared<TestObject>()), bridge(DispatchRef::adopt(DispatchBridge::wrap(api))),
          client(bridge.get())
    {}

    std::shared_ptr<TestObject> api;
    DispatchRef bridge = DispatchRef::adopt(nullptr);
    DispatchClient client;
};

} // namespace

TEST_F(ComDispatch, DispatchIdsAreStablePerNameAndFollowTheObjectsNames)
{
    DispId first = DISPID_UNKNOWN;
    DispId again = DISPID_UNKNOWN;
    ASSERT_EQ(bridge->GetDispID("echo", &first), S_OK);
    ASSERT_EQ(bridge->GetDispID("testString", &again), S_OK);
    EXPECT_NE(first, again);
    EXPECT_EQ(bridge->GetDispID("echo", &again), S_OK);
    EXPECT_EQ(again, first);

    api->setAllowPageAttributes(false);
    struct Case
    {
        const char* name;
        HResult expected;
    } cases[] = {{"echo", S_OK},
                 {"version", S_OK},
                 {"toString", S_OK},
                 {"attachEvent", S_OK},
                 {"getLastException", S_OK},
                 {"Echo", DISP_E_UNKNOWNNAME},
                 {"width", DISP_E_UNKNOWNNAME},
                 {"nope", DISP_E_UNKNOWNNAME}};
    for (const Case& c : cases)
    {
        DispId id = 12345;
        EXPECT_EQ(bridge->GetDispID(c.name, &id), c.expected) << c.name;
        EXPECT_EQ(id == DISPID_UNKNOWN, failed(c.expected)) << c.name;
    }
    // With page-defined attributes any unreserved name is a property, as the object answers.
    api->setAllowPageAttributes(true);
    EXPECT_EQ(client.put("colour", "red").result, S_OK);
    EXPECT_EQ(*client.get("colour").value.stringValue(), "red");
    EXPECT_EQ(client.get("width").result, DISP_E_UNKNOWNNAME);
}

TEST_F(ComDispatch, TheExtendedInterfaceFindsNamesWithoutCaseAndListsTheMembers)
{
    void* out = nullptr;
    ASSERT_EQ(bridge->QueryInterface(IID_IDispatchEx, &out), S_OK);
    auto* extended = static_cast<IDispatchEx*>(out);
    DispatchRef held = DispatchRef::adopt(extended);
    api->setAllowPageAttributes(false);

    DispId echo = DISPID_UNKNOWN;
    ASSERT_EQ(bridge->GetDispID("echo", &echo), S_OK);
    struct Case
    {
        const char* name;
        std::uint32_t flags;
        HResult expected;
        DispId id;
    } cases[] = {{"ECHO", fdexNameCaseInsensitive, S_OK, echo},
                 {"echo", fdexNameCaseInsensitive, S_OK, echo},
                 {"ECHO", fdexNameCaseSensitive, DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
                 {"AttachEVENT", fdexNameCaseInsensitive, S_OK, DispatchBridge::kAttachEventId},
                 {"echo ", fdexNameCaseInsensitive, DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
                 {"nope", fdexNameCaseInsensitive, DISP_E_UNKNOWNNAME, DISPID_UNKNOWN}};
    for (const Case& c : cases)
    {
        DispId id = 12345;
        EXPECT_EQ(extended->GetDispID(c.name, c.flags, &id), c.expected) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
    }

    // Enumeration walks the object's members in its order, each under the identifier a lookup gives.
    std::vector<std::string> listed;
    DispId id = DISPID_STARTENUM;
    HResult step = S_OK;
    while ((step = extended->GetNextDispID(0, id, &id)) == S_OK && listed.size() < 100)
    {
        std::string name;
        ASSERT_EQ(extended->GetMemberName(id, &name), S_OK);
        DispId byName = DISPID_UNKNOWN;
        ASSERT_EQ(bridge->GetDispID(name, &byName), S_OK);
        EXPECT_EQ(byName, id) << name;
        listed.push_back(name);
    }
    EXPECT_EQ(step, S_FALSE);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    EXPECT_EQ(listed, api->getMemberNames());

    std::string name;
    EXPECT_EQ(extended->GetMemberName(DispatchBridge::kGetLastExceptionId, &name), S_OK);
    EXPECT_EQ(name, "getLastException");
    EXPECT_EQ(extended->GetMemberName(987654, &name), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(extended->GetNextDispID(0, 987654, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(ComDispatch, ValuesRoundTripThroughAVariantParameter)
{
    RecordingHandler handler;
    const std::vector<ComVariant> values = {ComVariant(),         ComVariant::null(),      ComVariant(true),
                                            ComVariant(-7),       ComVariant(2.5),         ComVariant("h\u00e9llo"),
                                            ComVariant(&handler), ComVariant(bridge.get())};
    for (const ComVariant& value : values)
    {
        const Outcome echoed = client.call("echo", {value});
        ASSERT_EQ(echoed.result, S_OK);
        ASSERT_EQ(echoed.value.type(), value.type());
        switch (value.type())
        {
        case ComVariant::Type::Bool: EXPECT_EQ(*echoed.value.boolValue(), *value.boolValue()); break;
        case ComVariant::Type::Int32: EXPECT_EQ(*echoed.value.int32Value(), *value.int32Value()); break;
        case ComVariant::Type::Double: EXPECT_EQ(*echoed.value.doubleValue(), *value.doubleValue()); break;
        case ComVariant::Type::String: EXPECT_EQ(*echoed.value.stringValue(), *value.stringValue()); break;
        case ComVariant::Type::Dispatch: EXPECT_EQ(echoed.value.dispatchValue(), value.dispatchValue()); break;
        default: break;
        }
    }
    EXPECT_EQ(handler.references, 2u); // `values` holds one; every copy made on the way handed its back
}

TEST_F(ComDispatch, PluginValuesBecomeTheNearestHostType)
{
    EXPECT_EQ(*client.call("make", {"big"}).value.doubleValue(), 1099511627776.0);
    EXPECT_EQ(*client.call("make", {"unsigned"}).value.int32Value(), 5);
    EXPECT_EQ(*client.call("make", {"float"}).value.doubleValue(), 0.5);
    EXPECT_EQ(*client.call("make", {"wide"}).value.stringValue(), "gr\u00fcn");
    EXPECT_EQ(client.call("make", {"self"}).value.dispatchValue(), bridge.get()); // one bridge per object
    EXPECT_EQ(*client.call("add", {"2", 3.9}).value.int32Value(), 5);
    RecordingHandler pageObject; // the plug-in reads a host object's property by name
    EXPECT_EQ(*client.call("read", {&pageObject, "name"}).value.stringValue(), "handler");

    const Outcome list = client.call("make", {"list"});
    ASSERT_EQ(list.value.type(), ComVariant::Type::Dispatch);
    DispatchClient array(list.value.dispatchValue());
    EXPECT_EQ(*array.get("length").value.int32Value(), 2);
    EXPECT_EQ(*array.get("0").value.int32Value(), 1);
    EXPECT_EQ(*array.get("1").value.stringValue(), "two");
    EXPECT_EQ(array.get("2").result, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(array.put("0", 5).result, DISP_E_EXCEPTION);
}

TEST_F(ComDispatch, PropertiesAndTheDefaultMember)
{
    EXPECT_EQ(client.put("testString", 12).result, S_OK);
    EXPECT_EQ(*client.get("testString").value.stringValue(), "12");
    // A host that cannot tell calls from reads sets both flags.
    EXPECT_EQ(*client.call("testString", {}, DISPATCH_METHOD | DISPATCH_PROPERTYGET).value.stringValue(), "12");
    EXPECT_EQ(*client.call("add", {1, 2}, DISPATCH_METHOD | DISPATCH_PROPERTYGET).value.int32Value(), 3);
    EXPECT_EQ(*client.get("").value.stringValue(), "<JSAPI-Auto Javascript Object>");

    ComVariant ignored;
    EXPECT_EQ(bridge->Invoke(4242, DISPATCH_METHOD, {}, &ignored), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(bridge->Invoke(DISPID_VALUE, 0, {}, &ignored), E_INVALIDARG);
    EXPECT_EQ(client.call("testString", {}, DISPATCH_PROPERTYPUT).result, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(client.call("attachEvent", {"x"}, DISPATCH_PROPERTYPUT).result, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(bridge->Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, {}, nullptr), S_OK); // no result wanted
}

TEST_F(ComDispatch, ScriptErrorsKeepTheObjectsMessages)
{
    EXPECT_EQ(client.lastException(), "");
    RecordingHandler handler;
    struct Case
    {
        const char* name;
        std::vector<ComVariant> args;
        std::uint16_t flags;
        const char* message;
    } cases[] = {
        {"add", {1, 2, 3}, DISPATCH_METHOD, "Too many arguments, expected 2."},
        {"add", {1}, DISPATCH_METHOD, "Error: Argument 2 is not optional."},
        {"add", {1, "two"}, DISPATCH_METHOD, "Invalid argument conversion from std::string to int at index 2"},
        {"describe",
         {&handler, 1},
         DISPATCH_METHOD,
         "Invalid argument conversion from FB::JSObjectPtr to std::string at index 1"},
        {"number", {"seven"}, DISPATCH_PROPERTYPUT, "Could not convert from std::string to int"},
        {"version", {"2"}, DISPATCH_PROPERTYPUT, "Cannot set read-only property version"},
        {"testString", {}, DISPATCH_METHOD, "The specified member does not exist: testString"},
        {"fail", {}, DISPATCH_METHOD, "disk on fire"},
        {"read", {&handler, "colour"}, DISPATCH_METHOD, "The specified member does not exist: colour"},
        {"attachEvent", {"onfired"}, DISPATCH_METHOD, "Invalid Arguments"},
        {"attachEvent", {"onfired", 5}, DISPATCH_METHOD, "Invalid Arguments"},
        {"attachEvent", {"onfired", ComVariant::null()}, DISPATCH_METHOD, "Invalid Arguments"},
        {"detachEvent", {"onfired", &handler, 1, 2}, DISPATCH_METHOD, "Invalid Arguments"},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(client.call(c.name, c.args, c.flags).result, DISP_E_EXCEPTION) << c.message;
        EXPECT_EQ(client.lastException(), c.message);
    }
    EXPECT_EQ(api->calls, 0);
    EXPECT_EQ(api->number(), 0);
    EXPECT_EQ(handler.references, 4u); // the three cases that pass it; the failed calls kept none

    // A success leaves the last message in place.
    EXPECT_EQ(client.call("add", {1, 2}).result, S_OK);
    EXPECT_EQ(client.lastException(), "Invalid Arguments");
}

TEST_F(ComDispatch, AttachedHandlersHearEventsUntilDetached)
{
    RecordingHandler handler;
    RecordingHandler other;
    EXPECT_EQ(client.call("attachEvent", {"onfired", &handler}).result, S_OK);
    EXPECT_EQ(client.call("attachEvent", {"onfired", &other, false}).result, S_OK);
    api->raiseEvent("onfired", {1, "x", api});
    ASSERT_EQ(handler.calls.size(), 1u);
    ASSERT_EQ(handler.calls[0].size(), 3u);
    EXPECT_EQ(*handler.calls[0][0].int32Value(), 1);
    EXPECT_EQ(*handler.calls[0][1].stringValue(), "x");
    EXPECT_EQ(handler.calls[0][2].dispatchValue(), bridge.get());
    EXPECT_EQ(other.calls.size(), 1u);

    EXPECT_EQ(client.call("detachEvent", {"onfired", &handler}).result, S_OK);
    api->raiseEvent("onfired", {});
    EXPECT_EQ(handler.calls.size(), 1u);
    EXPECT_EQ(other.calls.size(), 2u);
    handler.calls.clear();             // the recorded arguments hold references too
    EXPECT_EQ(handler.references, 1u); // the detached handler was let go

    api->raiseEvent("onother", {});
    EXPECT_EQ(other.calls.size(), 2u);
    api->invalidate();
    other.calls.clear();
    EXPECT_EQ(other.references, 1u);
}

TEST_F(ComDispatch, InvalidatedObjectAnswersEveryCallWithTheReason)
{
    RecordingHandler handler;
    api->invalidate();
    DispId id = DISPID_UNKNOWN;
    EXPECT_EQ(bridge->GetDispID("anything", &id), S_OK); // the call must arrive to report why it fails
    for (const char* name : {"echo", "anything", "attachEvent"})
    {
        EXPECT_EQ(client.call(name, {"onfired", &handler}).result, DISP_E_EXCEPTION) << name;
        EXPECT_EQ(client.lastException(), "This object is no longer valid") << name;
    }
    EXPECT_EQ(client.get("testString").result, DISP_E_EXCEPTION);
    EXPECT_EQ(handler.references, 1u);
}

TEST(ComDispatchReferences, BridgeKeepsItsObjectAliveAndIsOnePerObject)
{
    auto api = std::make_shared<TestObject>();
    std::weak_ptr<TestObject> watch = api;
    IDispatch* bridge = DispatchBridge::wrap(api);
    EXPECT_EQ(DispatchBridge::wrap(api), bridge);
    EXPECT_EQ(DispatchBridge::apiOf(bridge), api);
    api.reset();
    EXPECT_FALSE(watch.expired());

    void* asked = nullptr;
    EXPECT_EQ(bridge->QueryInterface(IID_IDispatchEx, &asked), S_OK);
    EXPECT_EQ(asked, bridge);
    EXPECT_EQ(bridge->QueryInterface(IID_IClassFactory, &asked), E_NOINTERFACE);
    EXPECT_EQ(asked, nullptr);
    EXPECT_EQ(bridge->Release(), 2u);
    EXPECT_EQ(bridge->Release(), 1u);
    EXPECT_EQ(bridge->Release(), 0u);
    EXPECT_TRUE(watch.expired());

    EXPECT_EQ(DispatchBridge::wrap(nullptr), nullptr);
    EXPECT_EQ(DispatchBridge::apiOf(nullptr), nullptr);
}
