#include "platform/Json.h"

#include <algorithm>

namespace platform::json {

namespace {

// The deepest nesting of arrays and objects in the text, counted outside strings. A plain scan: the parser's
// callback could count it too, but makes every parse several times slower.
int nestingDepth(std::string_view text) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// ordered_json finds a key by walking its members, so parsing straight into it takes time that grows with the
// square of an object's member count. nlohmann::json's objects are maps: parse into those, then move the
// members over; a map's keys are unique, so they are appended without that search.
Json ordered(nlohmann::json&& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::object: {
            Json out = Json::object();
            auto& members = out.get_ref<Json::object_t&>();
            auto& source = value.get_ref<nlohmann::json::object_t&>();
            members.reserve(source.size());
            while (!source.empty()) {
                auto node = source.extract(source.begin());
                members.emplace_back(std::move(node.key()), ordered(std::move(node.mapped())));
            }
            return out;
        }
        case nlohmann::json::value_t::array: {
            Json out = Json::array();
            auto& elements = out.get_ref<Json::array_t&>();
            auto& source = value.get_ref<nlohmann::json::array_t&>();
            elements.reserve(source.size());
            for (auto& element : source)
                elements.push_back(ordered(std::move(element)));
            return out;
        }
        case nlohmann::json::value_t::string:
            return Json(std::move(value.get_ref<std::string&>()));
        default:
            return Json(value);
    }
}

}  // namespace

nlohmann::json parseIntoMaps(std::string_view text) {
    // nlohmann takes a NUL byte for the end of the text and would accept "{}\0" followed by anything; JSON
    // has no NUL outside a string and none unescaped inside one.
    if (text.find('\0') != std::string_view::npos)
        throw DecodingError("a NUL byte in JSON text");
    if (nestingDepth(text) > maxNestingDepth)
        throw DecodingError("JSON nested too deeply");
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& e) {
        throw DecodingError(e.what());
    }
}

Json parse(std::string_view text) {
    return ordered(parseIntoMaps(text));
}

}  // namespace platform::json
