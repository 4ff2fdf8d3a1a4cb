// platform/Json: parse() against plain nlohmann (same value, or refused exactly when nested deeper than the
// limit), the compact text read back to the same value, and the strict decoders against the parsed numbers.
// Besides the raw text, an input starting with 'W' is made wide (its rest as a thousand members and elements,
// fewer when it is long) and one starting with 'D' deep (its rest wrapped in as many arrays and objects as
// its second byte says), so that the depth limit is met at its exact edge and a parse slower than linear
// shows as a hang. The checks themselves take time that grows with the length of the text alone, so that a
// wide input costs little more than its parse: repeated elements are decoded once, and members are looked up
// at the ends of an object only.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "platform/Json.h"

namespace json = platform::json;
using json::Json;

namespace {

constexpr std::size_t wideCount = 1000;
// A long member is repeated fewer times: its copies add length, not width.
constexpr std::size_t wideBytes = 8 * 1024;
// A lookup walks an object's members, so looking every member up takes time that grows with the square of
// their count; the walk's first and last steps are where a lookup goes wrong.
constexpr std::size_t endMembers = 8;

std::string wide(std::string_view member) {
    const std::size_t count = std::clamp<std::size_t>(wideBytes / (member.size() + 1), 1, wideCount);
    std::string out;
    out.reserve(count * (2 * member.size() + 10) + 4);
    out += "[{";
    for (std::size_t i = 0; i < count; ++i) {
        out += i ? ",\"" : "\"";
        out += std::to_string(i);
        out += "\":";
        out += member;
    }
    out += "}";
    for (std::size_t i = 0; i < count; ++i) {
        out += ',';
        out += member;
    }
    out += ']';
    return out;
}

std::string deep(int depth, std::string_view inner) {
    std::string out;
    for (int i = 0; i < depth; ++i)
        out += i % 2 ? "{\"a\":" : "[";
    out += inner;
    for (int i = depth - 1; i >= 0; --i)
        out += i % 2 ? "}" : "]";
    return out;
}

// Deepest nesting of arrays and objects, without recursion.
int depthOf(const nlohmann::json& value) {
    int deepest = 0;
    std::vector<std::pair<const nlohmann::json*, int>> stack{{&value, 0}};
    while (!stack.empty()) {
        auto [v, depth] = stack.back();
        stack.pop_back();
        if (!v->is_structured())
            continue;
        deepest = std::max(deepest, depth + 1);
        for (const auto& element : *v)
            stack.emplace_back(&element, depth + 1);
    }
    return deepest;
}

template <class T>
std::optional<T> tryDecode(const Json& value) {
    try {
        return json::decode<T>(value);
    } catch (const json::DecodingError&) {
        return std::nullopt;
    }
}

// The integer a number stands for when T holds it. A whole number written as a float counts within the
// signed 64-bit range, which is all that the wire types read.
template <class T>
std::optional<T> expectedInteger(const Json& value) {
    if (value.is_number_unsigned()) {
        auto v = value.get<std::uint64_t>();
        if (v <= static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
            return static_cast<T>(v);
    } else if (value.is_number_integer()) {
        auto v = value.get<std::int64_t>();
        if (std::in_range<T>(v))
            return static_cast<T>(v);
    } else if (value.is_number_float()) {
        long double d = value.get<double>();
        if (std::trunc(d) == d && d >= -0x1p63L && d < 0x1p63L && std::in_range<T>(std::int64_t(d)))
            return static_cast<T>(std::int64_t(d));
    }
    return std::nullopt;
}

template <class T>
void checkInteger(const Json& value) {
    FUZZ_CHECK(tryDecode<T>(value) == expectedInteger<T>(value), "an integer decodes exactly when it fits");
}

void checkDecoders(const Json& value) {
    checkInteger<std::int64_t>(value);
    checkInteger<std::int32_t>(value);
    checkInteger<std::uint16_t>(value);
    checkInteger<std::uint8_t>(value);
    FUZZ_CHECK(tryDecode<std::string>(value).has_value() == value.is_string(), "strings are strings");
    FUZZ_CHECK(tryDecode<bool>(value).has_value() == value.is_boolean(), "booleans are booleans");
    FUZZ_CHECK(tryDecode<double>(value).has_value() == value.is_number(), "numbers are numbers");
    auto numbers = tryDecode<std::vector<std::int32_t>>(value);
    if (numbers) {
        FUZZ_CHECK(value.is_array() && numbers->size() == value.size(),
                   "an array decodes element by element");
        for (std::size_t i = 0; i < numbers->size(); ++i)
            FUZZ_CHECK(expectedInteger<std::int32_t>(value[i]) == (*numbers)[i],
                       "each element decodes alike");
    }
    if (value.is_object()) {
        std::size_t index = 0;
        for (auto it = value.begin(); it != value.end(); ++it, ++index) {
            if (index >= endMembers && index + endMembers < value.size())
                continue;
            const std::string& key = it.key();
            const Json& member = it.value();
            auto required = [&] {
                try {
                    return std::optional(json::required<Json>(value, key));
                } catch (const json::DecodingError&) {
                    return std::optional<Json>();
                }
            }();
            FUZZ_CHECK(required.has_value() == !member.is_null(), "a member is required unless null");
            FUZZ_CHECK(json::optional<Json>(value, key).has_value() == !member.is_null(),
                       "an optional member is absent only when null");
        }
    }
}

void check(std::string_view text) {
    // Plain nlohmann ends the text at a NUL byte, which JSON never has.
    std::optional<nlohmann::json> plain;
    try {
        if (text.find('\0') == std::string_view::npos)
            plain = nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception&) {
    }
    std::optional<Json> ours;
    try {
        ours = json::parse(text);
    } catch (const json::DecodingError&) {
    }
    if (!plain) {
        FUZZ_CHECK(!ours, "parse() takes only JSON");
        return;
    }
    const bool tooDeep = depthOf(*plain) > json::maxNestingDepth;
    FUZZ_CHECK(ours.has_value() == !tooDeep, "parse() refuses exactly what is nested too deeply");
    if (!ours)
        return;
    // Members come in the order of their keys, as plain nlohmann keeps them.
    auto dumped = json::dump(*ours);
    FUZZ_CHECK(dumped.has_value(), "parsed strings are UTF-8");
    FUZZ_CHECK(*dumped == plain->dump(), "parse() reads what plain nlohmann reads");
    FUZZ_CHECK(json::dump(json::parse(*dumped)) == dumped, "the compact text reads back alike");
    checkDecoders(*ours);
    if (ours->is_structured()) {
        const Json* previous = nullptr;
        for (const auto& element : *ours) {
            // An element equal to the one before decodes alike.
            if (!previous || element != *previous)
                checkDecoders(element);
            previous = &element;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    if (size >= 1 && input[0] == 'W')
        check(wide(input.substr(1)));
    else if (size >= 2 && input[0] == 'D')
        check(deep(static_cast<std::uint8_t>(input[1]), input.substr(2)));
    else
        check(input);
    return 0;
}
