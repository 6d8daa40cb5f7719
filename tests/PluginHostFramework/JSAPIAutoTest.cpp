#include <gtest/gtest.h>

#include "FakeHost.h"
#include "SampleScriptable.h"
#include "scripting/JSAPIAuto.h"
#include "variant/ScriptErrors.h"

#include <functional>
#include <mutex>
#include <thread>

using FB::variant;
using FB::VariantList;

namespace {

// A page function: records the arguments of every call; `id` stands for the page object it refers to.
class FakeHandler : public FB::JSObject
{
public:
    explicit FakeHandler(int id, bool throws = false) : _id(id), _throws(throws) {}

    variant invokeDefault(const VariantList& args) override
    {
        std::lock_guard<std::mutex> lock(_mutex);
        calls.push_back(args);
        if (_throws)
            throw FB::script_error("handler failed");
        return variant();
    }
    variant invoke(const std::string&, const VariantList&) override { return variant(); }
    variant getProperty(const std::string&) override { return variant(); }
    void setProperty(const std::string&, const variant&) override {}
    bool hasMethod(const std::string&) override { return false; }
    bool hasProperty(const std::string&) override { return false; }
    bool isSameObject(const FB::JSObject& other) const override
    {
        auto* handler = dynamic_cast<const FakeHandler*>(&other);
        return handler && handler->_id == _id;
    }

    std::vector<VariantList> calls; // read by tests once the raising threads have ended

private:
    std::mutex _mutex;
    int _id;
    bool _throws;
};

class TestObject : public veltra::test::SampleScriptable
{
public:
    TestObject()
    {
        addMethod("callMe", FB::make_method(this, &TestObject::callMe));
        addMethod("touch", FB::make_method(this, &TestObject::touch));
        addMethod("count", [](const VariantList& args) { return variant(args.size()); });
    }

    void callMe(FB::JSObjectPtr function, const variant& value) { function->invokeDefault({value}); }
    void touch() { ++calls; }
};

// The message of the E that `call` throws, or a note saying what happened instead.
template <class E>
std::string failure(const std::function<void()>& call)
{
    try
    {
        call();
    }
    catch (const E& error)
    {
        return error.what();
    }
    catch (const std::exception& error)
    {
        return std::string("other exception: ") + error.what();
    }
    return "no exception";
}

} // namespace

TEST(JSAPIAutoDispatch, ConvertsArgumentsAndWrapsResults)
{
    auto object = std::make_shared<TestObject>();
    EXPECT_EQ(object->invoke("add", {"2", 3.9}).convert_cast<int>(), 5);
    EXPECT_EQ(object->invoke("describe", {"a", "1.5", "yes"}).convert_cast<std::string>(), "a:1.5:1");
    EXPECT_EQ(object->invoke("echo", {"x"}).convert_cast<std::string>(), "x");
    EXPECT_TRUE(object->invoke("echo", {}).empty()); // a missing variant argument arrives empty
    EXPECT_TRUE(object->invoke("echo", {nullptr}).is_null());
    EXPECT_TRUE(object->invoke("touch", {}).empty());
    EXPECT_EQ(object->invoke("count", {1, 2, 3, 4}).convert_cast<int>(), 4);

    auto handler = std::make_shared<FakeHandler>(1);
    object->invoke("callMe", {handler, 7});
    ASSERT_EQ(handler->calls.size(), 1u);
    EXPECT_EQ(handler->calls[0][0].convert_cast<int>(), 7);
    EXPECT_EQ(object->calls, 2);
}

TEST(JSAPIAutoDispatch, RejectsBadArgumentsWithoutCalling)
{
    auto object = std::make_shared<TestObject>();
    auto handler = std::make_shared<FakeHandler>(1);
    auto invoke = [&](const std::string& name, const VariantList& args) {
        return failure<FB::invalid_arguments>([&] { object->invoke(name, args); });
    };
    EXPECT_EQ(invoke("add", {1, 2, 3}), "Too many arguments, expected 2.");
    EXPECT_EQ(invoke("touch", {1}), "Too many arguments, expected 0.");
    EXPECT_EQ(invoke("add", {1}), "Error: Argument 2 is not optional.");
    EXPECT_EQ(invoke("add", {1, "two"}), "Invalid argument conversion from std::string to int at index 2");
    EXPECT_EQ(invoke("describe", {handler, 1.0, true}),
              "Invalid argument conversion from FB::JSObjectPtr to std::string at index 1");
    EXPECT_EQ(invoke("describe", {"a", "b"}), "Invalid argument conversion from std::string to double at index 2");
    EXPECT_EQ(invoke("callMe", {}), "Error: Argument 1 is not optional.");
    EXPECT_EQ(object->calls, 0);
    EXPECT_EQ(failure<FB::invalid_member>([&] { object->invoke("nope", {}); }),
              "The specified member does not exist: nope");
}

TEST(JSAPIAutoDispatch, DefaultMembers)
{
    auto object = std::make_shared<TestObject>();
    EXPECT_EQ(object->invoke("toString", {}).convert_cast<std::string>(), "<JSAPI-Auto Javascript Object>");
    EXPECT_EQ(object->getProperty("value").convert_cast<std::string>(), "<JSAPI-Auto Javascript Object>");
    EXPECT_TRUE(object->getProperty("valid").convert_cast<bool>());
    EXPECT_EQ(failure<FB::script_error>([&] { object->setProperty("valid", false); }),
              "Cannot set read-only property valid");
    EXPECT_EQ(FB::JSAPIAuto("<other>").invoke("toString", {}).convert_cast<std::string>(), "<other>");

    object->invoke("setAttribute", {"colour", "red"});
    EXPECT_EQ(object->invoke("getAttribute", {"colour"}).convert_cast<std::string>(), "red");
    EXPECT_TRUE(object->invoke("getAttribute", {"missing"}).empty());
    EXPECT_TRUE(object->hasMethod("toString"));
    EXPECT_FALSE(object->hasMethod("value"));

    auto names = object->getMemberNames();
    for (const char* name : {"toString", "getAttribute", "setAttribute", "value", "valid", "echo", "version", "colour"})
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
}

TEST(JSAPIAutoProperties, SettersConvertAndReadOnlyPropertiesKeepTheirValue)
{
    auto object = std::make_shared<TestObject>();
    object->setProperty("testString", 12);
    EXPECT_EQ(object->getProperty("testString").convert_cast<std::string>(), "12");
    object->setProperty("number", "7");
    EXPECT_EQ(object->getProperty("number").convert_cast<int>(), 7);
    EXPECT_EQ(failure<FB::invalid_arguments>([&] { object->setProperty("number", "seven"); }),
              "Could not convert from std::string to int");
    EXPECT_EQ(object->number(), 7);

    EXPECT_EQ(failure<FB::script_error>([&] { object->setProperty("version", "2"); }),
              "Cannot set read-only property version");
    EXPECT_EQ(object->getProperty("version").convert_cast<std::string>(), "1.0.0.0");
    EXPECT_EQ(failure<FB::script_error>([&] { object->removeProperty("testString"); }),
              "Cannot remove read-only property testString");
}

TEST(JSAPIAutoProperties, PageAttributesAndReservedNames)
{
    auto object = std::make_shared<TestObject>();
    const char* reserved[] = {"offsetWidth", "offsetHeight", "width",       "height",          "attributes",
                              "nodeType",    "namespaceURI", "localName",   "wrappedJSObject", "prototype",
                              "style",       "id",           "constructor", "nodeName",        "hasAttribute"};
    for (const char* name : reserved)
        EXPECT_FALSE(object->hasProperty(name)) << name;
    EXPECT_TRUE(object->hasProperty("anything"));
    EXPECT_FALSE(object->hasProperty("echo"));
    EXPECT_TRUE(object->getProperty("anything").empty());
    object->setProperty("width", 3);
    EXPECT_TRUE(object->hasProperty("width"));
    EXPECT_EQ(object->getProperty("width").convert_cast<int>(), 3);
    object->removeProperty("width");

    object->setAllowPageAttributes(false);
    EXPECT_FALSE(object->hasProperty("anything"));
    EXPECT_FALSE(object->hasProperty("width"));
    EXPECT_TRUE(object->hasProperty("testString"));
    EXPECT_EQ(failure<FB::invalid_member>([&] { object->setProperty("anything", 1); }),
              "The specified member does not exist: anything");
    EXPECT_EQ(failure<FB::invalid_member>([&] { object->getProperty("anything"); }),
              "The specified member does not exist: anything");
    object->registerAttribute("writable", 1);
    object->setProperty("writable", 2);
    EXPECT_EQ(object->getProperty("writable").convert_cast<int>(), 2);
}

TEST(JSAPIAutoProperties, ReadOnlyAttributes)
{
    auto object = std::make_shared<TestObject>();
    object->registerAttribute("build", 42, true);
    EXPECT_TRUE(object->hasProperty("build"));
    for (bool allowPageAttributes : {true, false})
    {
        object->setAllowPageAttributes(allowPageAttributes);
        EXPECT_EQ(failure<FB::script_error>([&] { object->setProperty("build", 1); }),
                  "Cannot set read-only property build");
    }
    EXPECT_EQ(failure<FB::script_error>([&] {
                  object->invoke("setAttribute", {"build", 1});
              }),
              "Cannot set read-only property build");
    EXPECT_EQ(failure<FB::script_error>([&] { object->removeProperty("build"); }),
              "Cannot remove read-only property build");
    EXPECT_EQ(object->getProperty("build").convert_cast<int>(), 42);

    object->registerAttribute("note", "x");
    object->removeProperty("note");
    EXPECT_FALSE(object->hasProperty("note"));
}

TEST(JSAPIAutoDispatch, InvalidatedObjectRefusesEveryCall)
{
    auto object = std::make_shared<TestObject>();
    auto handler = std::make_shared<FakeHandler>(1);
    object->attachEvent("onfired", handler);
    object->invalidate();
    EXPECT_FALSE(object->isValid());
    const std::string message = "This object is no longer valid";
    EXPECT_EQ(failure<FB::object_invalidated>([&] { object->invoke("echo", {}); }), message);
    EXPECT_EQ(failure<FB::object_invalidated>([&] { object->getProperty("valid"); }), message);
    EXPECT_EQ(failure<FB::object_invalidated>([&] { object->setProperty("testString", "a"); }), message);
    EXPECT_EQ(failure<FB::object_invalidated>([&] { object->removeProperty("a"); }), message);
    EXPECT_EQ(failure<FB::object_invalidated>([&] { object->hasMethod("echo"); }), message);
    EXPECT_EQ(failure<FB::object_invalidated>([&] { object->hasProperty("a"); }), message);
    EXPECT_EQ(failure<FB::object_invalidated>([&] { object->getMemberNames(); }), message);
    object->raiseEvent("onfired", {});
    EXPECT_TRUE(handler->calls.empty());
}

TEST(JSAPIAutoEvents, EveryHandlerHearsTheEventUntilDetached)
{
    auto host = std::make_shared<veltra::test::FakeHost>();
    auto object = std::make_shared<TestObject>();
    object->setHost(host);
    auto first = std::make_shared<FakeHandler>(1);
    auto failing = std::make_shared<FakeHandler>(2, true);
    auto last = std::make_shared<FakeHandler>(3);
    object->attachEvent("onfired", first);
    object->attachEvent("onfired", failing);
    object->attachEvent("onfired", last);
    object->attachEvent("onfired", last);
    EXPECT_TRUE(object->hasEvent("onfired"));
    EXPECT_FALSE(object->hasEvent("onother"));

    object->raiseEvent("onfired", {1, "a"});
    ASSERT_EQ(first->calls.size(), 1u);
    EXPECT_EQ(first->calls[0][1].convert_cast<std::string>(), "a");
    EXPECT_EQ(failing->calls.size(), 1u);
    EXPECT_EQ(last->calls.size(), 2u); // attached twice, called twice

    // Detaching goes by the page object, not by the wrapper instance.
    object->detachEvent("onfired", std::make_shared<FakeHandler>(1));
    object->detachEvent("onfired", last);
    object->raiseEvent("onfired", {});
    object->raiseEvent("onother", {});
    EXPECT_EQ(first->calls.size(), 1u);
    EXPECT_EQ(failing->calls.size(), 2u);
    EXPECT_EQ(last->calls.size(), 2u);
    EXPECT_EQ(host->runPending(), 0u);
}

TEST(JSAPIAutoEvents, WithoutHostEventsAreDeliveredOnTheCallingThread)
{
    auto object = std::make_shared<TestObject>();
    auto handler = std::make_shared<FakeHandler>(1);
    object->attachEvent("onfired", handler);
    std::thread([&] { object->raiseEvent("onfired", {5}); }).join();
    EXPECT_EQ(handler->calls.size(), 1u);
}

TEST(JSAPIAutoEventsThreads, EventsFromOtherThreadsAreScheduledWithoutWaiting)
{
    auto host = std::make_shared<veltra::test::FakeHost>();
    auto object = std::make_shared<TestObject>();
    object->setHost(host);
    auto handler = std::make_shared<FakeHandler>(1);
    object->attachEvent("onfired", handler);
    auto raiseElsewhere = [&](const VariantList& args) {
        std::thread([&] { object->raiseEvent("onfired", args); }).join();
    };

    raiseElsewhere({"first"});
    EXPECT_TRUE(handler->calls.empty()); // returned before anything ran
    EXPECT_EQ(host->runPending(), 1u);
    ASSERT_EQ(handler->calls.size(), 1u);
    EXPECT_EQ(handler->calls[0][0].convert_cast<std::string>(), "first");

    host->refuse = true;
    raiseElsewhere({"refused"});
    host->refuse = false;
    EXPECT_EQ(host->runPending(), 0u);

    raiseElsewhere({"late"});
    object->invalidate(); // the page went away before the browser thread got to it
    EXPECT_EQ(host->runPending(), 1u);

    auto other = std::make_shared<TestObject>();
    other->setHost(host);
    other->attachEvent("onfired", handler);
    std::thread([&] { other->raiseEvent("onfired", {}); }).join();
    other.reset(); // the scheduled call must not keep or touch a destroyed object
    EXPECT_EQ(host->runPending(), 1u);
    EXPECT_EQ(handler->calls.size(), 1u);
}
