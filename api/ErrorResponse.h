#pragma once
// The server's error body, with its text in four languages.
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.h"

namespace halcyra {

struct ErrorResponse {
    struct TextAndFAQ {
        std::string text;
        std::optional<std::string> faqUrl;
    };
    std::string error;
    std::optional<std::vector<std::string>> supportIds;
    TextAndFAQ en;
    TextAndFAQ de;
    TextAndFAQ fr;
    TextAndFAQ nl;

    // The entry for the user's first preferred language among en, fr, nl and de; en for any other.
    const TextAndFAQ& textForPreferredLanguage() const;
};

void to_json(platform::json::Json& json, const ErrorResponse::TextAndFAQ& value);
void from_json(const platform::json::Json& json, ErrorResponse::TextAndFAQ& value);
void to_json(platform::json::Json& json, const ErrorResponse& value);
void from_json(const platform::json::Json& json, ErrorResponse& value);

}  // namespace halcyra
