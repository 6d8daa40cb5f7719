#include <npfunctions.h>

// X11 (pulled in by the NPAPI headers) defines these as macros; GoogleTest uses both names.
#undef None
#undef Bool

#include <gtest/gtest.h>

#include <cstddef>

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
