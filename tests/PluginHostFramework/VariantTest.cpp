#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>

#include "variant/ScriptErrors.h"
#include "variant/utf8_tools.h"
#include "variant/variant.h"

using FB::variant;

namespace {

// The scriptable classes live elsewhere; a pointer that is never dereferenced is enough here.
template <class T>
std::shared_ptr<T> fakeObject()
{
    static int token;
    return std::shared_ptr<T>(reinterpret_cast<T*>(&token), [](T*) {});
}

template <class T>
FB::bad_variant_cast badCast(const variant& value)
{
    try
    {
        value.convert_cast<T>();
    }
    catch (const FB::bad_variant_cast& error)
    {
        return error;
    }
    ADD_FAILURE() << "no bad_variant_cast from " << value.get_type_name() << " to " << variant::type_name<T>();
    return FB::bad_variant_cast("", "");
}

} // namespace

TEST(VariantConversion, BoolFollowsTheScriptRules)
{
    for (const char* yes : {"y", "1", "YES", "True", "t"})
        EXPECT_TRUE(variant(yes).convert_cast<bool>()) << yes;
    for (const char* no : {"", "no", "0", "2", "on", " true"})
        EXPECT_FALSE(variant(no).convert_cast<bool>()) << no;
    EXPECT_TRUE(variant(std::wstring(L"YeS")).convert_cast<bool>());
    EXPECT_TRUE(variant(true).convert_cast<bool>());
    EXPECT_FALSE(variant(0).convert_cast<bool>());
    EXPECT_TRUE(variant(-3).convert_cast<bool>());
    EXPECT_TRUE(variant(0.25).convert_cast<bool>());
    EXPECT_FALSE(variant(0.0f).convert_cast<bool>());
    EXPECT_EQ(badCast<bool>(variant()).from(), "FB::FBVoid");
    EXPECT_EQ(badCast<bool>(variant(FB::FBNull())).to(), "bool");
}

TEST(VariantConversion, StringIsWhatAStreamWrites)
{
    EXPECT_EQ(variant(3.5).convert_cast<std::string>(), "3.5");
    EXPECT_EQ(variant(1e21).convert_cast<std::string>(), "1e+21");
    EXPECT_EQ(variant(3.14159265).convert_cast<std::string>(), "3.14159");
    EXPECT_EQ(variant(42).convert_cast<std::string>(), "42");
    EXPECT_EQ(variant(-7LL).convert_cast<std::string>(), "-7");
    EXPECT_EQ(variant(ULLONG_MAX).convert_cast<std::string>(), "18446744073709551615");
    EXPECT_EQ(variant(static_cast<unsigned char>(200)).convert_cast<std::string>(), "200");
    EXPECT_EQ(variant(true).convert_cast<std::string>(), "true");
    EXPECT_EQ(variant(false).convert_cast<std::string>(), "false");
    EXPECT_EQ(variant(std::wstring(L"Gr\u00fc\u00dfe")).convert_cast<std::string>(), "Gr\xc3\xbc\xc3\x9f"
                                                                                     "e");
    EXPECT_EQ(variant(2.5).convert_cast<std::wstring>(), L"2.5");
    EXPECT_EQ(variant("\xe6\xa8\xa1\xe5\x9e\x8b").convert_cast<std::wstring>(), L"\u6a21\u578b");

    const FB::bad_variant_cast error = badCast<std::string>(variant(fakeObject<FB::JSObject>()));
    EXPECT_EQ(error.from(), "FB::JSObjectPtr");
    EXPECT_EQ(error.to(), "std::string");
    EXPECT_NE(std::string(error.what()).find("FB::JSObjectPtr"), std::string::npos);
    EXPECT_EQ(badCast<std::wstring>(variant(FB::VariantList())).to(), "std::wstring");
    EXPECT_EQ(badCast<std::string>(variant()).from(), "FB::FBVoid");
}

TEST(VariantConversion, NumbersConvertWithinRange)
{
    EXPECT_EQ(variant(7).convert_cast<double>(), 7.0);
    EXPECT_EQ(variant(2.9).convert_cast<int>(), 2);
    EXPECT_EQ(variant(-2.9).convert_cast<long>(), -2);
    EXPECT_EQ(variant(true).convert_cast<unsigned short>(), 1u);
    EXPECT_EQ(variant(255).convert_cast<unsigned char>(), 255);
    EXPECT_EQ(variant(-128).convert_cast<signed char>(), -128);
    EXPECT_EQ(variant(ULLONG_MAX).convert_cast<unsigned long long>(), ULLONG_MAX);
    EXPECT_EQ(variant(LLONG_MIN).convert_cast<long long>(), LLONG_MIN);
    EXPECT_FLOAT_EQ(variant(0.1).convert_cast<float>(), 0.1f);

    EXPECT_THROW(variant(256).convert_cast<unsigned char>(), FB::bad_variant_cast);
    EXPECT_THROW(variant(-1).convert_cast<unsigned int>(), FB::bad_variant_cast);
    EXPECT_THROW(variant(-1).convert_cast<unsigned long long>(), FB::bad_variant_cast);
    EXPECT_THROW(variant(ULLONG_MAX).convert_cast<long long>(), FB::bad_variant_cast);
    EXPECT_THROW(variant(3e9).convert_cast<int>(), FB::bad_variant_cast);
    EXPECT_THROW(variant(18446744073709551616.0).convert_cast<unsigned long long>(), FB::bad_variant_cast);
    EXPECT_THROW(variant(std::nan("")).convert_cast<int>(), FB::bad_variant_cast);
    EXPECT_THROW(variant(1e300).convert_cast<float>(), FB::bad_variant_cast);

    const FB::bad_variant_cast error = badCast<short>(variant(40000));
    EXPECT_EQ(error.from(), "int");
    EXPECT_EQ(error.to(), "short");
    EXPECT_EQ(badCast<int>(variant(fakeObject<FB::JSAPI>())).from(), "FB::JSAPIPtr");
}

TEST(VariantConversion, NumbersFromWholeNumericText)
{
    EXPECT_EQ(variant(" 42 ").convert_cast<int>(), 42);
    EXPECT_EQ(variant("+7").convert_cast<long>(), 7);
    EXPECT_EQ(variant("-12").convert_cast<short>(), -12);
    EXPECT_EQ(variant("65").convert_cast<char>(), 65);
    EXPECT_EQ(variant(std::wstring(L"1e3")).convert_cast<double>(), 1000.0);
    EXPECT_EQ(variant("-0.5").convert_cast<float>(), -0.5f);
    for (const char* bad : {"", "  ", "12abc", "3.5", "0x10", "+-1", "99999999999"})
        EXPECT_THROW(variant(bad).convert_cast<int>(), FB::bad_variant_cast) << bad;
    EXPECT_THROW(variant("300").convert_cast<unsigned char>(), FB::bad_variant_cast);
    EXPECT_THROW(variant("-1").convert_cast<unsigned int>(), FB::bad_variant_cast);
    EXPECT_THROW(variant("1.5x").convert_cast<double>(), FB::bad_variant_cast);
    EXPECT_EQ(badCast<double>(variant("abc")).from(), "std::string");
}

TEST(VariantConversion, ObjectsAndListsOnlyFromTheirKind)
{
    const FB::JSAPIPtr api = fakeObject<FB::JSAPI>();
    const FB::JSObjectPtr page = fakeObject<FB::JSObject>();
    EXPECT_EQ(variant(api).convert_cast<FB::JSAPIPtr>(), api);
    EXPECT_EQ(variant(page).convert_cast<FB::JSObjectPtr>(), page);
    EXPECT_EQ(variant().convert_cast<FB::JSAPIPtr>(), nullptr);
    EXPECT_EQ(variant(nullptr).convert_cast<FB::JSObjectPtr>(), nullptr);
    EXPECT_EQ(badCast<FB::JSObjectPtr>(variant(api)).to(), "FB::JSObjectPtr");
    EXPECT_THROW(variant("page").convert_cast<FB::JSAPIPtr>(), FB::bad_variant_cast);

    const variant list(FB::VariantList{1, "two", FB::VariantList{3.0}});
    const FB::VariantList items = list.convert_cast<FB::VariantList>();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].convert_cast<std::string>(), "two");
    EXPECT_EQ(items[2].convert_cast<FB::VariantList>().at(0).convert_cast<int>(), 3);
    EXPECT_EQ(badCast<FB::VariantList>(variant("1,2")).from(), "std::string");
    EXPECT_EQ(list.convert_cast<variant>().convert_cast<FB::VariantList>().size(), 3u);
}

TEST(VariantKinds, NullAndEmptyAreDistinct)
{
    const variant empty;
    const variant null(FB::FBNull{});
    EXPECT_TRUE(empty.empty());
    EXPECT_FALSE(empty.is_null());
    EXPECT_TRUE(null.is_null());
    EXPECT_FALSE(null.empty());
    EXPECT_TRUE(variant(static_cast<const char*>(nullptr)).is_null());
    EXPECT_TRUE(variant(FB::JSAPIPtr()).is_null());
    EXPECT_EQ(null.get_type_name(), "FB::FBNull");
    EXPECT_NO_THROW(null.convert_cast<FB::FBNull>());
    EXPECT_THROW(empty.convert_cast<FB::FBNull>(), FB::bad_variant_cast);
}

TEST(VariantKinds, WholeNumbersKeepTheirType)
{
    EXPECT_TRUE(variant(5).is_of_type<int>());
    EXPECT_TRUE(variant(5u).is_of_type<unsigned int>());
    EXPECT_TRUE(variant(static_cast<std::int64_t>(5)).is_of_type<std::int64_t>());
    EXPECT_FALSE(variant(5).is_of_type<long>());
    EXPECT_TRUE(variant("x").is_of_type<std::string>());
    EXPECT_TRUE(variant(L"x").is_of_type<std::wstring>());
    EXPECT_FALSE(variant(L"x").is_of_type<FB::JSObjectPtr>());
    EXPECT_EQ(variant(1.5f).get_type(), typeid(float));
    EXPECT_EQ(variant(L'A').convert_cast<int>(), 65);
}

TEST(Utf8Tools, RoundTripsAllPlanes)
{
    const std::string utf8 = "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x8c\x8d";
    const std::wstring wide = FB::utf8_to_wstring(utf8);
    EXPECT_EQ(wide, L"a\u00e9\u4e2d\U0001F30D");
    EXPECT_EQ(FB::wstring_to_utf8(wide), utf8);
    EXPECT_EQ(FB::utf8_to_wstring(""), L"");
}

TEST(Utf8Tools, InvalidInputIsReplaced)
{
    EXPECT_EQ(FB::utf8_to_wstring("a\xff"
                                  "b"),
              L"a\ufffd"
              L"b");
    EXPECT_EQ(FB::utf8_to_wstring("x\xe4\xb8"), L"x\ufffd");
    EXPECT_EQ(FB::utf8_to_wstring("\xc0\xaf").find_first_not_of(L'\ufffd'), std::wstring::npos); // overlong
    EXPECT_EQ(FB::wstring_to_utf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
    EXPECT_EQ(FB::wstring_to_utf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xef\xbf\xbd");
    EXPECT_FALSE(variant("bad \xfe text").convert_cast<std::wstring>().empty());
}

TEST(ScriptErrors, CarryTheirMessages)
{
    EXPECT_STREQ(FB::object_invalidated().what(), "This object is no longer valid");
    EXPECT_STREQ(FB::invalid_arguments().what(), "Invalid Arguments");
    const FB::invalid_member member("loadfile");
    EXPECT_STREQ(member.what(), "The specified member does not exist: loadfile");
    EXPECT_EQ(member.memberName(), "loadfile");
    try
    {
        throw FB::invalid_arguments("Too many arguments, expected 1.");
    }
    catch (const FB::script_error& error)
    {
        EXPECT_STREQ(error.what(), "Too many arguments, expected 1.");
    }
}
