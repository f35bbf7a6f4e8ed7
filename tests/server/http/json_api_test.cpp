// The pieces of the browser API's answers alone: JSON text that stays valid whatever
// bytes a name holds, and query values read strictly.

#include "http/api_answer.h"
#include "http/json_writer.h"
#include "http/query_values.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(JsonWriter, NestsAndSeparatesValues)
{
    JsonWriter json;
    json.BeginObject().Key("a").Int(-3).Key("b").BeginArray().Bool(true).Null().String("x").End();
    json.Key("c").BeginObject().End().Key("d").Real(2.5).Key("e").Real(1.0 / 3.0).End();
    EXPECT_EQ(json.Text(), R"({"a":-3,"b":[true,null,"x"],"c":{},"d":2.5,"e":0.333})");
}

TEST(JsonWriter, AnyBytesGiveAValidString)
{
    EXPECT_EQ(JsonString("겨울 \"왕국\"\\"), "\"겨울 \\\"왕국\\\"\\\\\"");
    EXPECT_EQ(JsonString(std::string("a\n\t\x01\x7f", 5)), "\"a\\n\\t\\u0001\\u007f\"");
    // Bytes that are not UTF-8 become U+FFFD; the line separators are escaped.
    EXPECT_EQ(JsonString("x\xff"
                         "y"),
        "\"x\xEF\xBF\xBDy\"");
    EXPECT_EQ(JsonString("\xE2\x80\xA8\xE2\x80\xA9"), "\"\\u2028\\u2029\"");
    JsonWriter numbers;
    numbers.BeginArray().Real(NAN).Real(INFINITY).Real(-0.0001).Real(10).End();
    EXPECT_EQ(numbers.Text(), "[null,null,0,10]");
}

TEST(QueryValues, AreReadStrictly)
{
    std::string error;
    std::optional<QueryValues> query = QueryValues::Parse("q=a+b%26c&empty=&flag&id=X", error);
    ASSERT_TRUE(query);
    EXPECT_EQ(*query->Find("q"), "a b&c");
    EXPECT_EQ(*query->Find("empty"), "");
    EXPECT_EQ(*query->Find("flag"), "");
    EXPECT_EQ(query->Find("Q"), nullptr); // names match exactly
    EXPECT_EQ(query->Find("missing"), nullptr);
    EXPECT_TRUE(QueryValues::Parse("", error));
    EXPECT_TRUE(QueryValues::Parse("&&a=1&", error));
    for (const char* bad : { "a=%", "a=%4", "a=%zz", "a=%00", "a%00=1", "a=1&a=2" }) {
        EXPECT_FALSE(QueryValues::Parse(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    std::string many;
    for (size_t i = 0; i <= kMaxQueryValues; ++i)
        many += "v" + std::to_string(i) + "=1&";
    EXPECT_FALSE(QueryValues::Parse(many, error));
    EXPECT_EQ(PercentDecode("a+b%2B", PlusSign::Plus), "a+b+");
}

TEST(QueryValues, EncodedValuesComeBackAsTheyWere)
{
    const std::string hostile = "/겨울 왕국/a&b=c+d%25?#\x01~.-_";
    EXPECT_EQ(PercentEncode("a b&c/é"), "a%20b%26c%2F%C3%A9");
    EXPECT_EQ(PercentEncode("/Movies/a b.mkv", "/"), "/Movies/a%20b.mkv");
    EXPECT_EQ(PercentDecode(PercentEncode(hostile), PlusSign::Plus), hostile);
    std::string error;
    std::optional<QueryValues> query
        = QueryValues::Parse("path=" + PercentEncode(hostile, "/"), error);
    ASSERT_TRUE(query) << error;
    ASSERT_NE(query->Find("path"), nullptr);
    EXPECT_EQ(*query->Find("path"), hostile);
}

TEST(QueryValues, NumbersArePlainDecimalsInRange)
{
    EXPECT_EQ(ParseWholeNumber("0", 0, 10), 0);
    EXPECT_EQ(ParseWholeNumber("10", 0, 10), 10);
    for (const char* bad :
        { "", "11", "-1", "+1", " 1", "1 ", "0x1", "1e1", "99999999999999999999" })
        EXPECT_FALSE(ParseWholeNumber(bad, 0, 10)) << bad;
    EXPECT_EQ(ParseDecimal("12.5", 0, 100), 12.5);
    EXPECT_EQ(ParseDecimal(".5", 0, 100), 0.5);
    EXPECT_EQ(ParseDecimal("7.", 0, 100), 7.0);
    for (const char* bad : { "", ".", "-1", "1e2", "nan", "inf", "1,5", "1.2.3", "101", " 1" })
        EXPECT_FALSE(ParseDecimal(bad, 0, 100)) << bad;
}

TEST(ApiAnswer, TagsDependOnEveryByte)
{
    EXPECT_EQ(ApiEntityTag("abc"), ApiEntityTag("abc"));
    EXPECT_NE(ApiEntityTag("abc"), ApiEntityTag("abd"));
    EXPECT_EQ(ApiEntityTag("").front(), '"');
    EXPECT_EQ(ApiEntityTag("").size(), 18u);
}

} // namespace
