#pragma once
// JSON for wire types: nlohmann's ordered_json keeps keys in the order a type writes them. Each wire type has
// explicit to_json/from_json functions built from these helpers, which are strict: a missing or null required
// member, or a member of the wrong type (a fractional number for an integer, say), is a DecodingError. The
// decoding helpers read either kind of tree: ordered_json, or nlohmann::json from parseIntoMaps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

namespace platform::json {

using Json = nlohmann::ordered_json;

struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One value of type T from a JSON value (ordered_json or nlohmann::json), strictly typed.
template <class T, class J>
T decode(const J& value);

namespace detail {
template <class T>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};
}  // namespace detail

template <class T, class J>
T decode(const J& value) {
    if constexpr (std::is_same_v<T, J>) {
        return value;
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!value.is_string())
            throw DecodingError("expected a string");
        return value.template get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!value.is_boolean())
            throw DecodingError("expected a boolean");
        return value.template get<bool>();
    } else if constexpr (std::is_integral_v<T>) {
        if (value.is_number_unsigned()) {
            auto v = value.template get<std::uint64_t>();
            if (v > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
                throw DecodingError("integer out of range");
            return static_cast<T>(v);
        }
        std::int64_t v = 0;
        if (value.is_number_float()) {
            // A whole number written with a fraction or exponent ("2.0", "1e3") is still that integer.
            double d = value.template get<double>();
            if (std::trunc(d) != d || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
                throw DecodingError("expected an integer");
            v = static_cast<std::int64_t>(d);
        } else if (value.is_number_integer()) {
            v = value.template get<std::int64_t>();
        } else {
            throw DecodingError("expected an integer");
        }
        if (v < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
            (v > 0 &&
             static_cast<std::uint64_t>(v) > static_cast<std::uint64_t>(std::numeric_limits<T>::max())))
            throw DecodingError("integer out of range");
        return static_cast<T>(v);
    } else if constexpr (std::is_floating_point_v<T>) {
        if (!value.is_number())
            throw DecodingError("expected a number");
        return value.template get<T>();
    } else if constexpr (detail::is_vector<T>::value) {
        if (!value.is_array())
            throw DecodingError("expected an array");
        T out;
        out.reserve(value.size());
        for (const auto& element : value)
            out.push_back(decode<typename T::value_type>(element));
        return out;
    } else {
        // A wire type with its own from_json (found by argument-dependent lookup).
        if (!value.is_object())
            throw DecodingError("expected an object");
        T out;
        from_json(value, out);
        return out;
    }
}

// A required member: missing or null is a DecodingError.
template <class T, class J>
T required(const J& object, std::string_view key) {
    if (!object.is_object())
        throw DecodingError("expected an object");
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        throw DecodingError("missing member \"" + std::string(key) + "\"");
    try {
        return decode<T>(*it);
    } catch (const DecodingError& e) {
        throw DecodingError("member \"" + std::string(key) + "\": " + e.what());
    }
}

// An optional member: absent when missing or null; present with the wrong type is a DecodingError.
template <class T, class J>
std::optional<T> optional(const J& object, std::string_view key) {
    if (!object.is_object())
        throw DecodingError("expected an object");
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    try {
        return decode<T>(*it);
    } catch (const DecodingError& e) {
        throw DecodingError("member \"" + std::string(key) + "\": " + e.what());
    }
}

// Writes a member; an absent optional is left out.
template <class T>
void put(Json& object, std::string_view key, const T& value) {
    object[std::string(key)] = value;
}
template <class T>
void put(Json& object, std::string_view key, const std::optional<T>& value) {
    if (value)
        object[std::string(key)] = *value;
}

// Deepest nesting of arrays and objects that parse() accepts. Copying a deeply nested value recurses, so
// input from outside the process could otherwise exhaust the stack.
inline constexpr int maxNestingDepth = 64;

// Parses one JSON document; malformed or too deeply nested text is a DecodingError. Time grows with the
// length of the text, however many members an object has; the members of a parsed object come in the order
// of their keys, not of the text (only what we write keeps its order).
Json parse(std::string_view text);

// The same parse into nlohmann::json, whose objects are maps, without the second tree that parse() builds
// to keep the members in one order: for input that is only decoded, member by member, and then dropped.
nlohmann::json parseIntoMaps(std::string_view text);

// Compact JSON text (slashes are not escaped). Nothing when a string is not valid UTF-8.
inline std::optional<std::string> dump(const Json& value) {
    try {
        return value.dump();
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

}  // namespace platform::json
