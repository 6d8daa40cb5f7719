#include "FakeBrowser.h"

#include <npfunctions.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <thread>

using veltra::test::FakeBrowser;
using veltra::test::PageObject;

// Browsers hand these structures across the library boundary, so any slip in field order or type shows up here as an
// offset that differs from the x86_64 layout browsers use.
TEST(NpapiHeaders, LayoutMatchesTheBrowserAbi)
{
    EXPECT_EQ(sizeof(NPVariant), 24u); // 4-byte type, padding, 16-byte NPString in the union
    EXPECT_EQ(offsetof(NPVariant, value), 8u);
    EXPECT_EQ(sizeof(NPObject), 16u);
    EXPECT_EQ(offsetof(NPObject, referenceCount), 8u);
    EXPECT_EQ(offsetof(NPClass, allocate), 8u);
    EXPECT_EQ(offsetof(NPClass, invoke), 40u);
    EXPECT_EQ(offsetof(NPClass, enumerate), 88u);
    EXPECT_EQ(sizeof(NPClass), 104u);
    EXPECT_EQ(offsetof(NPWindow, clipRect), 24u);
    EXPECT_EQ(offsetof(NPWindow, ws_info), 32u);
    EXPECT_EQ(sizeof(NPWindow), 48u);
    EXPECT_EQ(sizeof(NPEvent), sizeof(XEvent));

    EXPECT_EQ(offsetof(NPNetscapeFuncs, geturl), 8u);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, getvalue), 8u + 16 * 8);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, createobject), 8u + 27 * 8);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, setexception), 8u + 39 * 8);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, pluginthreadasynccall), 8u + 43 * 8);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, urlredirectresponse), 8u + 54 * 8);
    EXPECT_EQ(offsetof(NPPluginFuncs, newp), 8u);
    EXPECT_EQ(offsetof(NPPluginFuncs, javaClass), 8u + 11 * 8);
    EXPECT_EQ(offsetof(NPPluginFuncs, getvalue), 8u + 12 * 8);
    EXPECT_EQ(offsetof(NPPluginFuncs, didComposite), 8u + 19 * 8);

    EXPECT_EQ(NPNVxDisplay, 1);
    EXPECT_EQ(NPNVToolkit, 13);
    EXPECT_EQ(NPNVWindowNPObject, 15);
    EXPECT_EQ(NPNVprivateModeBool, 18);
    EXPECT_EQ(NPPVpluginNeedsXEmbed, 14);
    EXPECT_EQ(NPPVpluginScriptableNPObject, 15);
    EXPECT_EQ(NPPVformValue, 16);
    EXPECT_EQ(NPVariantType_Object, 6);
    EXPECT_EQ(NPERR_INVALID_PARAM, 9);
}

TEST(NpapiHeaders, VariantMacrosSetTypeAndValue)
{
    NPVariant v;
    STRINGZ_TO_NPVARIANT("abc", v);
    ASSERT_TRUE(NPVARIANT_IS_STRING(v));
    EXPECT_EQ(NPVARIANT_TO_STRING(v).UTF8Length, 3u);
    BOOLEAN_TO_NPVARIANT(7, v);
    EXPECT_TRUE(NPVARIANT_IS_BOOLEAN(v) && NPVARIANT_TO_BOOLEAN(v) == true);
    INT32_TO_NPVARIANT(-5, v);
    EXPECT_TRUE(NPVARIANT_IS_INT32(v) && NPVARIANT_TO_INT32(v) == -5);
    DOUBLE_TO_NPVARIANT(2.5, v);
    EXPECT_TRUE(NPVARIANT_IS_DOUBLE(v) && NPVARIANT_TO_DOUBLE(v) == 2.5);
    NULL_TO_NPVARIANT(v);
    EXPECT_TRUE(NPVARIANT_IS_NULL(v));
    VOID_TO_NPVARIANT(v);
    EXPECT_TRUE(NPVARIANT_IS_VOID(v) && NPVARIANT_TO_OBJECT(v) == nullptr);
}

TEST(FakeBrowser, PageObjectsForwardCallsAndLeaveNothingBehind)
{
    FakeBrowser browser;
    NPNetscapeFuncs& npn = *browser.funcs();
    NPP npp = browser.npp();

    NPObject* window = nullptr;
    ASSERT_EQ(npn.getvalue(npp, NPNVWindowNPObject, &window), NPERR_NO_ERROR);
    EXPECT_EQ(window, browser.window());

    PageObject* page = browser.createPageObject();
    page->methods["twice"] = [](const NPVariant* args, uint32_t count, NPVariant* result) {
        if (count != 1 || !NPVARIANT_IS_INT32(args[0]))
            return false;
        INT32_TO_NPVARIANT(2 * NPVARIANT_TO_INT32(args[0]), *result);
        return true;
    };
    NPVariant arg, result;
    INT32_TO_NPVARIANT(21, arg);
    ASSERT_TRUE(npn.invoke(npp, page, FakeBrowser::id("twice"), &arg, 1, &result));
    EXPECT_EQ(NPVARIANT_TO_INT32(result), 42);
    EXPECT_FALSE(npn.invoke(npp, page, FakeBrowser::id("missing"), &arg, 1, &result));

    // Setting a property copies the string and retains the object; reading back gives owned copies.
    NPVariant text = FakeBrowser::stringVariant("hello");
    ASSERT_TRUE(npn.setproperty(npp, window, FakeBrowser::id("greeting"), &text));
    npn.releasevariantvalue(&text);
    OBJECT_TO_NPVARIANT(page, arg);
    ASSERT_TRUE(npn.setproperty(npp, window, npn.getintidentifier(0), &arg));
    ASSERT_TRUE(npn.getproperty(npp, window, FakeBrowser::id("greeting"), &result));
    EXPECT_EQ(FakeBrowser::text(result), "hello");
    npn.releasevariantvalue(&result);
    EXPECT_TRUE(npn.hasproperty(npp, window, FakeBrowser::id("0")));

    // A page function records its arguments.
    ASSERT_TRUE(npn.invokeDefault(npp, page, &arg, 1, &result));
    ASSERT_EQ(page->calls.size(), 1u);
    EXPECT_EQ(NPVARIANT_TO_OBJECT(page->calls[0][0]), page);

    NPUTF8* name = npn.utf8fromidentifier(FakeBrowser::id("greeting"));
    EXPECT_STREQ(name, "greeting");
    npn.memfree(name);
    EXPECT_EQ(npn.intfromidentifier(npn.getintidentifier(7)), 7);
    EXPECT_FALSE(npn.identifierisstring(npn.getintidentifier(7)));

    npn.setexception(page, "boom");
    EXPECT_EQ(browser.lastException(), "boom");

    // The page object now holds a reference to itself through its recorded call; removing the window's copy and
    // dropping the recorded call leaves only ours.
    EXPECT_TRUE(npn.removeproperty(npp, window, npn.getintidentifier(0)));
    npn.releasevariantvalue(&page->calls[0][0]);
    browser.release(page);
    npn.releaseobject(window);
    EXPECT_EQ(browser.liveObjects(), 0u);
    EXPECT_EQ(browser.liveAllocations(), 1u); // the window's "greeting"
}

TEST(FakeBrowserThreads, AsyncCallsRunOnTheThreadThatAsks)
{
    FakeBrowser browser;
    std::thread::id ranOn;
    auto record = [](void* data) { *static_cast<std::thread::id*>(data) = std::this_thread::get_id(); };

    std::thread worker([&] { browser.funcs()->pluginthreadasynccall(browser.npp(), record, &ranOn); });
    worker.join();
    EXPECT_EQ(browser.pendingCalls(), 1u);
    EXPECT_EQ(browser.runPendingCalls(), 1u);
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    NPN_PluginThreadAsyncCallProcPtr older = browser.funcs()->pluginthreadasynccall;
    browser.setAsyncCallsRefused(true);
    EXPECT_EQ(browser.funcs()->pluginthreadasynccall, nullptr);
    older(browser.npp(), record, &ranOn);
    EXPECT_EQ(browser.runPendingCalls(), 0u);
}
