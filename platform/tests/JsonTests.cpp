#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "platform/Json.h"

namespace json = platform::json;
using json::DecodingError;
using json::Json;

namespace {

struct Sample {
    std::string name;
    std::optional<std::int64_t> count;
    std::vector<bool> flags;
};

void to_json(Json& out, const Sample& value) {
    out = Json::object();
    json::put(out, "name", value.name);
    json::put(out, "count", value.count);
    json::put(out, "flags", value.flags);
}

void from_json(const Json& in, Sample& value) {
    value.name = json::required<std::string>(in, "name");
    value.count = json::optional<std::int64_t>(in, "count");
    value.flags = json::required<std::vector<bool>>(in, "flags");
}

}  // namespace

TEST(JsonTest, RequiredMembersAreStrictlyTyped) {
    const std::pair<const char*, std::function<void()>> failures[] = {
        {"missing", [] { json::required<std::string>(json::parse(R"({})"), "a"); }},
        {"null", [] { json::required<std::string>(json::parse(R"({"a":null})"), "a"); }},
        {"number for string", [] { json::required<std::string>(json::parse(R"({"a":1})"), "a"); }},
        {"string for bool", [] { json::required<bool>(json::parse(R"({"a":"true"})"), "a"); }},
        {"fractional int", [] { json::required<std::int64_t>(json::parse(R"({"a":1.5})"), "a"); }},
        {"float beyond int64", [] { json::required<std::int64_t>(json::parse(R"({"a":1e19})"), "a"); }},
        {"fraction in exponent form",
         [] { json::required<std::int64_t>(json::parse(R"({"a":25e-1})"), "a"); }},
        {"string for int", [] { json::required<int>(json::parse(R"({"a":"1"})"), "a"); }},
        {"above int64",
         [] { json::required<std::int64_t>(json::parse(R"({"a":9223372036854775808})"), "a"); }},
        {"above int32", [] { json::required<std::int32_t>(json::parse(R"({"a":2147483648})"), "a"); }},
        {"below int32", [] { json::required<std::int32_t>(json::parse(R"({"a":-2147483649})"), "a"); }},
        {"negative unsigned", [] { json::required<std::uint32_t>(json::parse(R"({"a":-1})"), "a"); }},
        {"not an object", [] { json::required<int>(json::parse(R"([1])"), "a"); }},
        {"wrong element", [] { json::required<std::vector<int>>(json::parse(R"({"a":[1,"2"]})"), "a"); }},
        {"object for array", [] { json::required<std::vector<int>>(json::parse(R"({"a":{}})"), "a"); }},
    };
    for (const auto& [name, call] : failures)
        EXPECT_THROW(call(), DecodingError) << name;

    auto document = json::parse(
        R"({"max":9223372036854775807,"min":-9223372036854775808,"d":1.5,"i":3,"whole":2.0,"e":1e3})");
    EXPECT_EQ(json::required<std::int64_t>(document, "whole"), 2);
    EXPECT_EQ(json::required<std::int64_t>(document, "e"), 1000);
    EXPECT_EQ(json::required<std::int64_t>(document, "max"), INT64_MAX);
    EXPECT_EQ(json::required<std::int64_t>(document, "min"), INT64_MIN);
    EXPECT_DOUBLE_EQ(json::required<double>(document, "d"), 1.5);
    EXPECT_DOUBLE_EQ(json::required<double>(document, "i"), 3.0);
}

TEST(JsonTest, OptionalMembersAreAbsentWhenMissingOrNullButStillTyped) {
    auto document = json::parse(R"({"null":null,"number":7,"text":"x"})");
    EXPECT_EQ(json::optional<int>(document, "missing"), std::nullopt);
    EXPECT_EQ(json::optional<int>(document, "null"), std::nullopt);
    EXPECT_EQ(json::optional<int>(document, "number"), 7);
    EXPECT_THROW(json::optional<int>(document, "text"), DecodingError);
}

TEST(JsonTest, WireTypesKeepTheirKeyOrderAndLeaveAbsentOptionalsOut) {
    Json out = Sample{"z", std::nullopt, {true}};
    EXPECT_EQ(json::dump(out), R"({"name":"z","flags":[true]})");
    out = Sample{"a/b", 5, {}};
    EXPECT_EQ(json::dump(out), R"({"name":"a/b","count":5,"flags":[]})");

    auto decoded =
        json::decode<Sample>(json::parse(R"({"flags":[false,true],"extra":1,"name":"n","count":null})"));
    EXPECT_EQ(decoded.name, "n");
    EXPECT_EQ(decoded.count, std::nullopt);
    EXPECT_EQ(decoded.flags, (std::vector<bool>{false, true}));
    EXPECT_THROW(json::decode<Sample>(json::parse(R"({"name":"n"})")), DecodingError);
    EXPECT_THROW(json::decode<Sample>(json::parse(R"("n")")), DecodingError);
}

TEST(JsonTest, MalformedTextAndInvalidUTF8AreReportedNotThrownThrough) {
    for (const char* text : {"", "{", R"({"a":})", "[1,]", "nul", R"({"a":1} x)"}) {
        EXPECT_THROW(json::parse(text), DecodingError) << text;
        EXPECT_THROW(json::parseIntoMaps(text), DecodingError) << text;
    }
    // A NUL byte does not end the text early, leaving what follows it unread.
    using namespace std::string_view_literals;
    for (std::string_view text : {"5\0"sv, "{\"a\":1}\0{\"b\":[[[["sv, "[1\0]"sv}) {
        EXPECT_THROW(json::parse(text), DecodingError) << text.size();
        EXPECT_THROW(json::parseIntoMaps(text), DecodingError) << text.size();
    }
    EXPECT_EQ(json::dump(Json("\xff\xfe")), std::nullopt);
    EXPECT_EQ(json::dump(Json("caf\xc3\xa9")), "\"caf\xc3\xa9\"");
}

TEST(JsonTest, NestingIsBoundedSoHostileInputCannotExhaustTheStack) {
    auto nested = [](int depth, const std::string& content) {
        return std::string(depth, '[') + content + std::string(depth, ']');
    };
    for (const std::string content : {"", "1", R"({"a":1})"}) {
        int depth = content.starts_with("{") ? json::maxNestingDepth - 1 : json::maxNestingDepth;
        EXPECT_NO_THROW(json::parse(nested(depth, content))) << content;
        EXPECT_THROW(json::parse(nested(depth + 1, content)), DecodingError) << content;
        EXPECT_THROW(json::parseIntoMaps(nested(depth + 1, content)), DecodingError) << content;
    }
    // Deep enough to overflow the stack when copied: refused, not crashed on.
    const std::string deep = R"({"a":)" + std::string(200000, '[') + R"(,"b":1})";
    EXPECT_THROW(json::parse(deep), DecodingError);
    EXPECT_THROW(json::parseIntoMaps(deep), DecodingError);
}

TEST(JsonTest, ParsedValuesAreThoseOfTheTextWhateverTheirNesting) {
    const std::string text =
        R"({"z":[1,-2,18446744073709551615,2.5,"s",true,null,{"b":{},"a":[]}],"a":{"y":"\u00e9","x":false},)"
        R"("dup":1,"m":"","dup":"last"})";
    const auto parsed = json::parse(text);
    // nlohmann::json compares objects by their members, whatever their order.
    EXPECT_EQ(nlohmann::json(parsed), nlohmann::json::parse(text));
    EXPECT_EQ(json::required<std::string>(parsed, "dup"), "last");
    EXPECT_EQ(parsed["z"][2].get<std::uint64_t>(), UINT64_MAX);
}

// Outside input may hold an object of very many members. Parsed into an insertion-ordered object that finds
// each key by walking the members, this one took minutes: a return of that shows as the CTest time-out.
TEST(JsonTest, AnObjectOfHalfAMillionMembersParsesWhole) {
    constexpr int members = 500'000;
    std::string text = R"({"wide":{)";
    for (int i = 0; i < members; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    text += R"(,"k7":"again"},"after":true})";

    const auto document = json::parse(text);
    const auto& wide = document["wide"];
    ASSERT_EQ(wide.size(), std::size_t(members));
    EXPECT_EQ(json::required<int>(wide, "k0"), 0);
    EXPECT_EQ(json::required<int>(wide, "k499999"), 499999);
    EXPECT_EQ(json::required<std::string>(wide, "k7"), "again");
    EXPECT_TRUE(json::required<bool>(document, "after"));
}
