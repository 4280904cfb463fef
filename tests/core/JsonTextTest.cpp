// SPDX-License-Identifier: GPL-3.0-or-later
// The JSON reader: values with the lines they start on, and every kind of broken document
// refused with the line it breaks on.

#include "core/JsonText.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvel {
namespace {

JsonValue Parsed(const std::string& text) {
    auto parsed = ParseJson(text);
    if (const auto* error = std::get_if<JsonSyntaxError>(&parsed)) {
        ADD_FAILURE() << "line " << error->line << ": " << error->message;
        return {};
    }
    return std::get<JsonValue>(parsed);
}

TEST(JsonText, ReadsEveryKindOfValueWithTheLineItStartsOn) {
    const JsonValue document = Parsed("\xef\xbb\xbf{\n"
                                      "  \"name\": \"caf\\u00e9 \\\"A\\\" \\ud83d\\ude00\\n\",\n"
                                      "  \"numbers\": [0, -1.5, 2e3,\n"
                                      "              1E-2],\n"
                                      "  \"yes\": true, \"no\": false,\n"
                                      "  \"nothing\": null,\n"
                                      "  \"empty\": {}, \"none\": []\n"
                                      "}\n");
    ASSERT_EQ(document.kind, JsonValue::Kind::Object);
    ASSERT_EQ(document.members.size(), 7u);
    EXPECT_EQ(document.members[0].name, "name");
    EXPECT_EQ(document.members[0].value.text, "caf\xc3\xa9 \"A\" \xf0\x9f\x98\x80\n");
    EXPECT_EQ(document.members[0].value.line, 2);
    const JsonValue& numbers = document.members[1].value;
    ASSERT_EQ(numbers.items.size(), 4u);
    EXPECT_EQ(numbers.items[1].number, -1.5);
    EXPECT_EQ(numbers.items[1].text, "-1.5");
    EXPECT_EQ(numbers.items[2].number, 2000.0);
    EXPECT_EQ(numbers.items[3].number, 0.01);
    EXPECT_EQ(numbers.items[3].line, 4);
    EXPECT_TRUE(document.members[2].value.boolean);
    EXPECT_EQ(document.members[3].value.kind, JsonValue::Kind::Boolean);
    EXPECT_FALSE(document.members[3].value.boolean);
    EXPECT_EQ(document.members[4].value.kind, JsonValue::Kind::Null);
    EXPECT_EQ(document.members[4].value.line, 6);
    EXPECT_TRUE(document.members[5].value.members.empty());
    EXPECT_EQ(document.members[6].value.kind, JsonValue::Kind::Array);
    EXPECT_EQ(Parsed(" 42 ").number, 42.0);
}

TEST(JsonText, RefusesBrokenDocumentsNamingTheLine) {
    const struct {
        const char* text;
        int line;
        const char* message;
    } cases[] = {
        {"", 1, "the file holds no JSON value"},
        {"{\"a\": 1,\n}", 2, "a \",\" before \"}\" (no member follows it)"},
        {"[1,\n2,\n]", 3, "a \",\" before \"]\" (no value follows it)"},
        {"{\"a\": 1\n\"b\": 2}", 2, "expected \",\" or \"}\" after the member \"a\", found '\"'"},
        {"{\"a\": 1", 1, "the object begun on this line is not closed with \"}\""},
        {"[\n1", 1, "the array begun on this line is not closed with \"]\""},
        {"{\n\"a\n\": 1}", 2, "the string begun on this line is not closed with \""},
        {"{'a': 1}", 1, "expected a member name in double quotes, found \"'\""},
        {"['a']", 1, "strings are written in double quotes (\"), not single ones"},
        {"{\"a\" 1}", 1, "expected \":\" after the member name \"a\""},
        {"[01]", 1, "a number does not begin with 0 (01)"},
        {"[1.]", 1, "a number needs digits after its decimal point"},
        {"[-]", 1, "a number needs digits after its \"-\""},
        {"[1e]", 1, "a number needs digits in its exponent"},
        {"[12abc]", 1, "unexpected \"a\" in a number"},
        {"[1e999]", 1, "the number 1e999 is out of any range"},
        {"[\"\\x\"]", 1, "unknown escape \"\\x\" in a string"},
        {"[\"\\u12\"]", 1, "\"\\u\" needs four hexadecimal digits"},
        {"[\"\\ud800\"]", 1, "\"\\u\" names the first half of a surrogate pair alone"},
        {"[\"\\udc00\"]", 1, "\"\\u\" names the second half of a surrogate pair alone"},
        {"[\"a\tb\"]", 1, "a control character (the byte 0x09) in a string; write it as an escape"},
        {"[truth]", 1,
         "expected a value (an object, array, string, number, true, false or null), found \"t\""},
        {"{} {}", 1, "unexpected \"{\" after the end of the JSON value"},
        {"{\"a\": 1,\n \"a\": 2}", 2, "the member \"a\" is given twice (first on line 1)"},
        {"{\"\\u001b[2J\": 1, \"\\u001b[2J\": 2}", 1,
         "the member \"?[2J\" is given twice (first on line 1)"},
    };
    for (const auto& c : cases) {
        auto parsed = ParseJson(c.text);
        const auto* error = std::get_if<JsonSyntaxError>(&parsed);
        ASSERT_NE(error, nullptr) << c.text;
        EXPECT_EQ(error->line, c.line) << c.text;
        EXPECT_EQ(error->message, c.message) << c.text;
    }
}

TEST(JsonText, AnObjectOfVeryManyMembersIsReadAndItsTwiceGivenNameFound) {
    // A megabyte of names: each looked up once, not compared with all those before it.
    std::string text = "{";
    for (int i = 0; i < 100000; ++i) {
        text += "\"m" + std::to_string(i) + "\": 0,";
    }
    auto parsed = ParseJson(text + "\"m0\": 1}");
    ASSERT_TRUE(std::holds_alternative<JsonSyntaxError>(parsed));
    EXPECT_EQ(std::get<JsonSyntaxError>(parsed).message,
              "the member \"m0\" is given twice (first on line 1)");
    text.back() = '}';
    ASSERT_TRUE(std::holds_alternative<JsonValue>(ParseJson(text)));
    EXPECT_EQ(std::get<JsonValue>(ParseJson(text)).members.size(), 100000u);
}

TEST(JsonText, NestingIsFollowedToItsLimitAndNoDeeper) {
    const auto nested = [](int depth) {
        return std::string(static_cast<std::size_t>(depth), '[') +
               std::string(static_cast<std::size_t>(depth), ']');
    };
    EXPECT_TRUE(std::holds_alternative<JsonValue>(ParseJson(nested(kJsonDepthLimit))));
    auto deep = ParseJson(nested(kJsonDepthLimit + 1));
    ASSERT_TRUE(std::holds_alternative<JsonSyntaxError>(deep));
    EXPECT_EQ(std::get<JsonSyntaxError>(deep).message, "values nested more than 64 deep");
    // A stack-breaking depth is refused just the same.
    EXPECT_TRUE(std::holds_alternative<JsonSyntaxError>(ParseJson(nested(1000000))));
}

}  // namespace
}  // namespace tarvel
