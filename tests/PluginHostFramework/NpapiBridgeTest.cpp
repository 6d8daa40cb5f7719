#include "TestBrowser.h"

#include "npapi/NPJavascriptObject.h"
#include "npapi/NPObjectAPI.h"
#include "npapi/NpapiBrowser.h"
#include "npapi/NpapiVariant.h"
#include "scripting/JSAPIAuto.h"
#include "variant/ScriptErrors.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace FB;
using namespace FB::Npapi;
using veltra::test::PageObject;
using veltra::test::PageValue;
using veltra::test::TestBrowser;

namespace {

// A scriptable object whose members the test sets as plain functions and values.
class TestApi : public JSAPI
{
public:
    using Method = std::function<variant(const VariantList&)>;
    std::map<std::string, Method> methods;
    std::map<std::string, variant> properties;

    bool hasMethod(const std::string& name) const override { return methods.count(name) > 0; }
    bool hasProperty(const std::string& name) const override { return properties.count(name) > 0; }
    variant getProperty(const std::string& name) override
    {
        auto found = properties.find(name);
        if (found == properties.end())
            throw invalid_member(name);
        return found->second;
    }
    void setProperty(const std::string& name, const variant& value) override { properties[name] = value; }
    void removeProperty(const std::string& name) override { properties.erase(name); }
    variant invoke(const std::string& name, const VariantList& args) override
    {
        if (!isValid())
            throw object_invalidated();
        auto found = methods.find(name);
        if (found == methods.end())
            throw invalid_member(name);
        return found->second(args);
    }
    std::vector<std::string> getMemberNames() const override
    {
        std::vector<std::string> names;
        for (const auto& entry : methods)
            names.push_back(entry.first);
        for (const auto& entry : properties)
            names.push_back(entry.first);
        return names;
    }
};

// The page's side of every test: our object as the browser holds it, and the calls a script would make on it.
// Every test ends by checking that all objects and browser allocations were given back.
class NpapiBridge : public ::testing::Test
{
protected:
    struct Outcome
    {
        bool ok;
        NPVariant value;
    };

    void SetUp() override
    {
        browser = NpapiBrowser::create(page.funcs(), page.npp());
        object = browser->getJSAPIWrapper(api);
        ASSERT_NE(object, nullptr);
    }

    void TearDown() override
    {
        for (NPVariant& value : results)
            page.funcs()->releasevariantvalue(&value);
        if (object)
            page.release(object);
        api.reset();
        browser->shutdown();
        browser.reset();
        EXPECT_EQ(page.liveObjects(), 0u);
        EXPECT_EQ(page.liveAllocations(), 0u);
    }

    // Calls `name` on `target` as a script would; the arguments are given back afterwards and the result is kept
    // until the end of the test.
    Outcome call(NPObject* target, const std::string& name, std::vector<NPVariant> args = {})
    {
        NPVariant result;
        bool ok = page.funcs()->invoke(page.npp(), target, TestBrowser::id(name), args.data(),
                                       static_cast<uint32_t>(args.size()), &result);
        for (NPVariant& arg : args)
            page.funcs()->releasevariantvalue(&arg);
        results.push_back(result);
        return {ok, result};
    }
    Outcome call(const std::string& name, std::vector<NPVariant> args = {})
    {
        return call(object, name, std::move(args));
    }

    static NPVariant number(int32_t value)
    {
        NPVariant result;
        INT32_TO_NPVARIANT(value, result);
        return result;
    }
    // A reference to `target` for the callee, given back with the other arguments.
    NPVariant objectValue(NPObject* target)
    {
        NPVariant result;
        OBJECT_TO_NPVARIANT(page.funcs()->retainobject(target), result);
        return result;
    }
    // The page object as the plug-in gets it, likewise.
    NPVariant pageObjectValue(PageObject* target)
    {
        NPVariant result;
        OBJECT_TO_NPVARIANT(page.object(target), result);
        return result;
    }

    TestBrowser page;
    NpapiBrowserPtr browser;
    std::shared_ptr<TestApi> api = std::make_shared<TestApi>();
    NPObject* object = nullptr;
    std::vector<NPVariant> results;
};

TEST_F(NpapiBridge, MethodsAndPropertiesCarryValuesBothWays)
{
    api->methods["add"] = [](const VariantList& args) {
        return variant(args.at(0).convert_cast<int>() + args.at(1).convert_cast<int>());
    };
    api->methods["greet"] = [](const VariantList& args) {
        return variant("hello " + args.at(0).convert_cast<std::string>());
    };
    api->methods["big"] = [](const VariantList&) { return variant(1LL << 40); };
    api->methods["unsigned"] = [](const VariantList&) { return variant(7u); };
    api->methods["half"] = [](const VariantList&) { return variant(0.5f); };
    api->methods["wide"] = [](const VariantList&) { return variant(std::wstring(L"\u00e9t\u00e9")); };
    api->methods["nothing"] = [](const VariantList&) { return variant(); };
    api->methods["types"] = [](const VariantList& args) {
        std::string names;
        for (const variant& arg : args)
            names += arg.get_type_name() + ";";
        return variant(names);
    };

    Outcome sum = call("add", {number(2), number(3)});
    ASSERT_TRUE(sum.ok);
    ASSERT_TRUE(NPVARIANT_IS_INT32(sum.value));
    EXPECT_EQ(NPVARIANT_TO_INT32(sum.value), 5);
    EXPECT_EQ(TestBrowser::text(call("greet", {TestBrowser::stringVariant("page")}).value), "hello page");

    Outcome big = call("big");
    ASSERT_TRUE(NPVARIANT_IS_DOUBLE(big.value)); // beyond int32: the page still gets the exact value
    EXPECT_EQ(NPVARIANT_TO_DOUBLE(big.value), 1099511627776.0);
    EXPECT_EQ(NPVARIANT_TO_INT32(call("unsigned").value), 7);
    EXPECT_EQ(NPVARIANT_TO_DOUBLE(call("half").value), 0.5);
    EXPECT_EQ(TestBrowser::text(call("wide").value), "\xc3\xa9t\xc3\xa9");
    EXPECT_TRUE(NPVARIANT_IS_VOID(call("nothing").value));

    NPVariant null, boolean, real, none;
    NULL_TO_NPVARIANT(null);
    BOOLEAN_TO_NPVARIANT(true, boolean);
    DOUBLE_TO_NPVARIANT(1.5, real);
    VOID_TO_NPVARIANT(none);
    EXPECT_EQ(TestBrowser::text(call("types", {null, boolean, real, none, number(1)}).value),
              std::string(variant(nullptr).get_type_name()) + ";bool;double;" + variant().get_type_name() + ";int;");

    // Properties, membership and enumeration through the same class.
    NPVariant value = TestBrowser::stringVariant("blue");
    EXPECT_TRUE(page.funcs()->setproperty(page.npp(), object, TestBrowser::id("colour"), &value));
    page.funcs()->releasevariantvalue(&value);
    EXPECT_EQ(api->properties["colour"].convert_cast<std::string>(), "blue");
    EXPECT_TRUE(page.funcs()->hasproperty(page.npp(), object, TestBrowser::id("colour")));
    EXPECT_FALSE(page.funcs()->hasproperty(page.npp(), object, TestBrowser::id("add")));
    EXPECT_TRUE(page.funcs()->hasmethod(page.npp(), object, TestBrowser::id("add")));
    EXPECT_FALSE(page.funcs()->hasmethod(page.npp(), object, TestBrowser::id("colour")));
    NPVariant read;
    ASSERT_TRUE(page.funcs()->getproperty(page.npp(), object, TestBrowser::id("colour"), &read));
    EXPECT_EQ(TestBrowser::text(read), "blue");
    page.funcs()->releasevariantvalue(&read);

    NPIdentifier* names = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(page.funcs()->enumerate(page.npp(), object, &names, &count));
    std::vector<std::string> listed;
    for (uint32_t i = 0; i < count; ++i)
        listed.push_back(browser->stringFromIdentifier(names[i]));
    page.funcs()->memfree(names);
    EXPECT_EQ(listed, api->getMemberNames());

    EXPECT_TRUE(page.funcs()->removeproperty(page.npp(), object, TestBrowser::id("colour")));
    EXPECT_EQ(api->properties.count("colour"), 0u);
}

TEST_F(NpapiBridge, FailuresBecomeScriptExceptionsAndFalse)
{
    api->methods["strict"] = [](const VariantList& args) -> variant {
        if (args.size() > 1)
            throw invalid_arguments("Too many arguments, expected 1.");
        return args.at(0).convert_cast<std::string>();
    };
    api->methods["broken"] = [](const VariantList&) -> variant { throw std::runtime_error("disk on fire"); };

    EXPECT_FALSE(call("strict", {number(1), number(2)}).ok);
    EXPECT_EQ(page.lastException(), "Too many arguments, expected 1.");
    EXPECT_FALSE(call("broken").ok);
    EXPECT_EQ(page.lastException(), "disk on fire");
    EXPECT_FALSE(call("missing").ok);
    EXPECT_EQ(page.lastException(), "The specified member does not exist: missing");

    // A page object where the method wants text: the conversion failure reaches the page, nothing leaks.
    PageObject* thing = page.createPageObject();
    page.clearException();
    EXPECT_FALSE(call("strict", {pageObjectValue(thing)}).ok);
    EXPECT_NE(page.lastException().find("Cannot convert"), std::string::npos);
    page.release(thing);

    NPVariant read;
    EXPECT_FALSE(page.funcs()->getproperty(page.npp(), object, TestBrowser::id("nope"), &read));
    EXPECT_EQ(page.lastException(), "The specified member does not exist: nope");
}

TEST_F(NpapiBridge, PageFunctionsAreCalledBackWithConvertedValues)
{
    api->methods["callBack"] = [](const VariantList& args) {
        JSObjectPtr function = args.at(0).convert_cast<JSObjectPtr>();
        return function->invokeDefault({std::string("done"), 3, true});
    };
    PageObject* function = page.createPageObject();
    function->call = [](const std::vector<PageValue>&) { return PageValue::string("thanks"); };

    Outcome outcome = call("callBack", {pageObjectValue(function)});
    ASSERT_TRUE(outcome.ok);
    EXPECT_EQ(TestBrowser::text(outcome.value), "thanks");
    ASSERT_EQ(function->calls.size(), 1u);
    EXPECT_EQ(function->calls[0],
              (std::vector<PageValue>{PageValue::string("done"), PageValue::integer(3), PageValue::boolean(true)}));

    // A page function that fails makes the plug-in's call fail with a script error.
    function->call = [](const std::vector<PageValue>&) -> PageValue { throw std::runtime_error("TypeError"); };
    EXPECT_FALSE(call("callBack", {pageObjectValue(function)}).ok);
    EXPECT_EQ(page.lastException(), "Error calling the page function");
    page.release(function);
}

TEST_F(NpapiBridge, OurObjectsRoundTripThroughThePageAsThemselves)
{
    auto child = std::make_shared<TestApi>();
    api->methods["self"] = [this](const VariantList&) { return variant(JSAPIPtr(api)); };
    api->methods["child"] = [child](const VariantList&) { return variant(JSAPIPtr(child)); };
    api->methods["isChild"] = [child](const VariantList& args) {
        return variant(args.at(0).convert_cast<JSAPIPtr>() == child);
    };

    EXPECT_EQ(NPVARIANT_TO_OBJECT(call("self").value), object);
    NPObject* first = NPVARIANT_TO_OBJECT(call("child").value);
    NPObject* second = NPVARIANT_TO_OBJECT(call("child").value);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(NPJavascriptObject::isNPJavascriptObject(first));
    EXPECT_TRUE(NPVARIANT_TO_BOOLEAN(call("isChild", {objectValue(first)}).value));

    // A page array of plug-in values: made through the window's Array and push.
    page.enablePageArrays();
    api->methods["list"] = [child](const VariantList&) { return variant(VariantList{1, "two", JSAPIPtr(child)}); };
    Outcome list = call("list");
    ASSERT_TRUE(NPVARIANT_IS_OBJECT(list.value));
    PageObject* array = page.pageObject(NPVARIANT_TO_OBJECT(list.value));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->properties["0"], PageValue::integer(1));
    EXPECT_EQ(array->properties["1"], PageValue::string("two"));
    EXPECT_EQ(array->properties["2"], PageValue::pluginObject(first));
}

TEST_F(NpapiBridge, EventListenersAreAttachedAndDetachedByTheBridge)
{
    api->addEvent("onfired");
    PageObject* handler = page.createPageObject();
    EXPECT_TRUE(page.funcs()->hasmethod(page.npp(), object, TestBrowser::id("addEventListener")));
    EXPECT_TRUE(page.funcs()->hasmethod(page.npp(), object, TestBrowser::id("removeEventListener")));

    ASSERT_TRUE(call("addEventListener", {TestBrowser::stringVariant("fired"), pageObjectValue(handler)}).ok);
    api->raiseEvent("onfired", {42});
    ASSERT_EQ(handler->calls.size(), 1u);
    EXPECT_EQ(handler->calls[0], std::vector<PageValue>{PageValue::integer(42)});

    NPVariant capture;
    BOOLEAN_TO_NPVARIANT(false, capture);
    ASSERT_TRUE(
        call("removeEventListener", {TestBrowser::stringVariant("fired"), pageObjectValue(handler), capture}).ok);
    api->raiseEvent("onfired", {43});
    EXPECT_EQ(handler->calls.size(), 1u);

    EXPECT_FALSE(call("addEventListener", {TestBrowser::stringVariant("fired")}).ok);
    EXPECT_EQ(page.lastException(), "Invalid Arguments");
    page.clearException();
    EXPECT_FALSE(
        call("addEventListener", {TestBrowser::stringVariant("fired"), pageObjectValue(handler), capture, capture}).ok);
    EXPECT_EQ(page.lastException(), "Invalid Arguments");
    page.clearException();
    EXPECT_FALSE(call("removeEventListener", {TestBrowser::stringVariant("fired"), number(5)}).ok);
    EXPECT_EQ(page.lastException(), "Invalid Arguments");
    page.release(handler);
}

TEST_F(NpapiBridge, ObjectsKeptByThePageFailOnceInvalidated)
{
    api->methods["ping"] = [](const VariantList&) { return variant(1); };
    ASSERT_TRUE(call("ping").ok);

    api->invalidate();
    EXPECT_TRUE(page.funcs()->hasmethod(page.npp(), object, TestBrowser::id("ping")));
    EXPECT_FALSE(call("ping").ok);
    EXPECT_EQ(page.lastException(), "This object is no longer valid");

    // The plug-in going away: the page's reference stays usable but lets go of the scriptable object at once.
    auto other = std::make_shared<TestApi>();
    other->methods["ping"] = api->methods["ping"];
    NPObject* kept = browser->getJSAPIWrapper(other);
    browser->shutdown();
    EXPECT_EQ(other.use_count(), 1);
    page.clearException();
    EXPECT_FALSE(call(kept, "ping").ok);
    EXPECT_EQ(page.lastException(), "This object is no longer valid");
    NPVariant read;
    page.clearException();
    EXPECT_FALSE(page.funcs()->getproperty(page.npp(), kept, TestBrowser::id("x"), &read));
    EXPECT_EQ(page.lastException(), "This object is no longer valid");
    page.release(kept);
}

TEST_F(NpapiBridge, PageObjectsAreHeldAndCalledThroughNPObjectAPI)
{
    const std::size_t before = page.liveObjects(); // our own object
    PageObject* record = page.createPageObject();
    record->methods["twice"] = [](const std::vector<PageValue>& args) {
        return PageValue::integer(args.at(0).asInt() * 2);
    };
    NPObject* target = page.object(record);
    page.release(record); // the proxy holds the page's object
    auto held = std::make_shared<NPObjectAPI>(target, browser);
    page.release(target); // from here only the wrapper keeps it alive
    EXPECT_EQ(page.liveObjects(), before + 1);

    EXPECT_EQ(held->invoke("twice", {21}).convert_cast<int>(), 42);
    EXPECT_THROW(held->invoke("absent", {}), script_error);
    EXPECT_TRUE(held->hasMethod("twice"));
    held->setProperty("name", std::string("tower"));
    EXPECT_TRUE(held->hasProperty("name"));
    EXPECT_EQ(held->getProperty("name").convert_cast<std::string>(), "tower");

    NPObjectAPI same(target, browser);
    NPObject* windowProxy = page.object(page.window());
    NPObjectAPI window(windowProxy, browser);
    page.release(windowProxy);
    EXPECT_TRUE(held->isSameObject(same));
    EXPECT_FALSE(held->isSameObject(window));

    // After the plug-in shut down, calls fail instead of reaching the page, and the release still happens.
    browser->shutdown();
    EXPECT_THROW(held->invoke("twice", {1}), object_invalidated);
    held.reset();
    EXPECT_EQ(page.liveObjects(), before + 1); // `same` still holds it

    // A page object outliving its browser wrapper must not reach the browser any more, not even to release.
    PageObject* orphanRecord = page.createPageObject();
    NPObject* orphan = page.object(orphanRecord);
    page.release(orphanRecord);
    NpapiBrowserPtr gone = NpapiBrowser::create(page.funcs(), page.npp());
    auto stranded = std::make_shared<NPObjectAPI>(orphan, gone);
    gone.reset();
    EXPECT_THROW(stranded->invokeDefault({}), object_invalidated);
    EXPECT_TRUE(orphanRecord->calls.empty());
    stranded.reset();
    EXPECT_EQ(orphan->referenceCount, 2u);
    page.release(orphan);
    page.release(orphan);
}

TEST_F(NpapiBridge, TableDrivenObjectsAnswerThroughTheBridge)
{
    auto automatic = std::make_shared<JSAPIAuto>();
    automatic->addMethod("twice", [](const VariantList& args) { return variant(args.at(0).convert_cast<int>() * 2); });
    NPObject* wrapped = browser->getJSAPIWrapper(automatic);

    EXPECT_EQ(TestBrowser::text(call(wrapped, "toString").value), "<JSAPI-Auto Javascript Object>");
    EXPECT_EQ(NPVARIANT_TO_INT32(call(wrapped, "twice", {number(4)}).value), 8);
    NPVariant valid;
    ASSERT_TRUE(page.funcs()->getproperty(page.npp(), wrapped, TestBrowser::id("valid"), &valid));
    EXPECT_TRUE(NPVARIANT_TO_BOOLEAN(valid));

    automatic->invalidate();
    EXPECT_FALSE(call(wrapped, "twice", {number(4)}).ok);
    EXPECT_EQ(page.lastException(), "This object is no longer valid");
    page.release(wrapped);
}

} // namespace
