#include "browser/HostFunctions.h"
#include "browser/PluginObjectTable.h"

// Xlib, pulled in by the NPAPI headers, defines these as macros; GoogleTest uses both names.
#undef None
#undef Bool

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

using veltra::host::BrowserLoop;
using veltra::host::HostFunctions;
using veltra::host::PluginObjectTable;

namespace {

// A plug-in-side class that counts frees and answers "ping" with 42.
struct Counted : NPObject
{
    static int freed;
};
int Counted::freed = 0;

NPObject* countedAllocate(NPP, NPClass*)
{
    return new Counted();
}

void countedDeallocate(NPObject* object)
{
    ++Counted::freed;
    delete static_cast<Counted*>(object);
}

bool countedInvoke(NPObject*, NPIdentifier, const NPVariant*, uint32_t, NPVariant* result)
{
    INT32_TO_NPVARIANT(42, *result);
    return true;
}

NPClass g_countedClass = {1, // too old to enumerate
                          countedAllocate,
                          countedDeallocate,
                          nullptr,
                          nullptr,
                          countedInvoke,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr};

class BrowserHostFunctions : public testing::Test
{
protected:
    void SetUp() override { Counted::freed = 0; }

    BrowserLoop loop;
    HostFunctions host{loop};
    NPNetscapeFuncs& npn = *host.table();
};

} // namespace

TEST_F(BrowserHostFunctions, TableAnswersAsABrowserWithoutNetworking)
{
    EXPECT_EQ(npn.size, sizeof(NPNetscapeFuncs));
    EXPECT_EQ(npn.version, (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR);
    EXPECT_STREQ(npn.uagent(nullptr), "Mozilla/5.0 (X11; Linux x86_64) veltra-host/1.0");
    EXPECT_THROW(HostFunctions second(loop), std::logic_error);
    EXPECT_EQ(HostFunctions::current(), &host);

    int toolkit = 0;
    EXPECT_EQ(npn.getvalue(nullptr, NPNVToolkit, &toolkit), NPERR_NO_ERROR);
    EXPECT_EQ(toolkit, 2);
    NPBool flag = true;
    EXPECT_EQ(npn.getvalue(nullptr, NPNVSupportsXEmbedBool, &flag), NPERR_NO_ERROR);
    EXPECT_FALSE(flag);
    flag = true;
    EXPECT_EQ(npn.getvalue(nullptr, NPNVSupportsWindowless, &flag), NPERR_NO_ERROR);
    EXPECT_FALSE(flag);
    Display* display = nullptr;
    EXPECT_NE(npn.getvalue(nullptr, NPNVxDisplay, &display), NPERR_NO_ERROR) << "no display was given";
    EXPECT_EQ(npn.getvalue(nullptr, NPNVToolkit, nullptr), NPERR_INVALID_PARAM);
    NPObject* window = nullptr;
    EXPECT_NE(npn.getvalue(nullptr, NPNVWindowNPObject, &window), NPERR_NO_ERROR);
    EXPECT_EQ(window, nullptr);
    NPP_t stranger{};
    EXPECT_EQ(npn.setvalue(&stranger, NPPVpluginWindowBool, nullptr), NPERR_INVALID_INSTANCE_ERROR);

    EXPECT_EQ(npn.geturl(nullptr, "http://example.invalid/", nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(npn.posturlnotify(nullptr, "x", nullptr, 0, nullptr, false, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(npn.newstream(nullptr, nullptr, nullptr, nullptr), NPERR_GENERIC_ERROR);
    npn.status(nullptr, "ignored");
    npn.forceredraw(nullptr);
    npn.invalidaterect(nullptr, nullptr);
}

TEST_F(BrowserHostFunctions, IdentifiersAreInternedAndRefuseStrangers)
{
    NPIdentifier name = npn.getstringidentifier("echo");
    EXPECT_EQ(name, npn.getstringidentifier("echo"));
    EXPECT_NE(name, npn.getstringidentifier("echo2"));
    EXPECT_TRUE(npn.identifierisstring(name));
    NPUTF8* text = npn.utf8fromidentifier(name);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "echo");
    npn.memfree(text);
    EXPECT_EQ(npn.intfromidentifier(name), INT32_MIN);

    NPIdentifier seven = npn.getintidentifier(7);
    EXPECT_EQ(seven, npn.getintidentifier(7));
    EXPECT_FALSE(npn.identifierisstring(seven));
    EXPECT_EQ(npn.intfromidentifier(seven), 7);
    EXPECT_EQ(npn.utf8fromidentifier(seven), nullptr);

    int notAnIdentifier = 0;
    EXPECT_FALSE(npn.identifierisstring(&notAnIdentifier));
    EXPECT_EQ(npn.utf8fromidentifier(&notAnIdentifier), nullptr);
    EXPECT_EQ(npn.getstringidentifier(nullptr), nullptr);
}

TEST_F(BrowserHostFunctions, ObjectsAreCountedForwardedAndFreedOnce)
{
    NPObject* object = npn.createobject(nullptr, &g_countedClass);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(host.liveObjects(), 1u);
    EXPECT_EQ(npn.retainobject(object), object);
    EXPECT_EQ(object->referenceCount, 2u);

    NPVariant result;
    ASSERT_TRUE(npn.invoke(nullptr, object, npn.getstringidentifier("ping"), nullptr, 0, &result));
    EXPECT_EQ(result.type, NPVariantType_Int32);
    EXPECT_EQ(result.value.intValue, 42);
    EXPECT_FALSE(npn.getproperty(nullptr, object, npn.getstringidentifier("x"), &result)) << "no callback";
    EXPECT_EQ(result.type, NPVariantType_Void);
    NPIdentifier* names = nullptr;
    uint32_t count = 0;
    EXPECT_FALSE(npn.enumerate(nullptr, object, &names, &count)) << "the class is too old to enumerate";

    // A variant holding the object gives its reference back with releasevariantvalue.
    NPVariant held;
    OBJECT_TO_NPVARIANT(object, held);
    npn.releasevariantvalue(&held);
    EXPECT_EQ(held.type, NPVariantType_Void);
    EXPECT_EQ(Counted::freed, 0);
    npn.releaseobject(object);
    EXPECT_EQ(Counted::freed, 1);
    EXPECT_EQ(host.liveObjects(), 0u);

    // What the host does not know (freed, or never made here) is left alone.
    Counted stranger;
    stranger._class = &g_countedClass;
    stranger.referenceCount = 1;
    npn.releaseobject(&stranger);
    EXPECT_EQ(npn.retainobject(&stranger), &stranger);
    EXPECT_EQ(stranger.referenceCount, 1u);
    EXPECT_FALSE(npn.invoke(nullptr, &stranger, npn.getstringidentifier("ping"), nullptr, 0, &result));
    EXPECT_EQ(Counted::freed, 1);

    auto* chars = static_cast<NPUTF8*>(npn.memalloc(3));
    std::memcpy(chars, "abc", 3);
    NPVariant text;
    STRINGN_TO_NPVARIANT(chars, 3, text);
    npn.releasevariantvalue(&text); // freed; the sanitizer pass would see a leak otherwise
    EXPECT_EQ(text.type, NPVariantType_Void);
}

TEST_F(BrowserHostFunctions, ExceptionIsKeptPerCallUntilTaken)
{
    HostFunctions::clearException();
    EXPECT_FALSE(HostFunctions::takeException());
    npn.setexception(nullptr, "bad argument");
    EXPECT_EQ(HostFunctions::takeException().value_or(""), "bad argument");
    EXPECT_FALSE(HostFunctions::takeException()) << "taken once";
}

TEST_F(BrowserHostFunctions, PluginObjectTableKeepsObjectsUntilThePageLetsGo)
{
    NPObject* object = npn.createobject(nullptr, &g_countedClass);
    {
        PluginObjectTable table(host);
        PluginObjectTable::Id id = table.add(object);
        EXPECT_NE(id, 0);
        EXPECT_EQ(table.add(object), id) << "one id per object";
        npn.releaseobject(object); // the table's references keep it
        EXPECT_EQ(table.find(id), object);
        EXPECT_TRUE(table.release(id));
        EXPECT_EQ(Counted::freed, 0);
        EXPECT_TRUE(table.release(id));
        EXPECT_EQ(Counted::freed, 1);
        EXPECT_FALSE(table.release(id));
        EXPECT_EQ(table.find(id), nullptr);
        EXPECT_EQ(table.add(nullptr), 0);

        table.add(npn.createobject(nullptr, &g_countedClass));
        npn.releaseobject(table.find(2));
        EXPECT_EQ(table.size(), 1u);
    }
    EXPECT_EQ(Counted::freed, 2) << "the table gives back what the page still held";
    EXPECT_EQ(host.liveObjects(), 0u);
}
