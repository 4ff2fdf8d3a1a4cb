#include "api/ErrorResponse.h"

#include "api/PreferredLanguages.h"
#include "platform/qt/SystemInfo.h"

namespace halcyra {

using platform::json::optional;
using platform::json::put;
using platform::json::required;

const ErrorResponse::TextAndFAQ& ErrorResponse::textForPreferredLanguage() const {
    auto languages = platform::SystemInfo::preferredLanguages();
    if (languages.empty())
        return en;
    auto code = languageCode(languages.front());
    if (!code)
        return en;
    if (*code == "fr")
        return fr;
    if (*code == "nl")
        return nl;
    if (*code == "de")
        return de;
    return en;
}

void to_json(platform::json::Json& json, const ErrorResponse::TextAndFAQ& value) {
    json = platform::json::Json::object();
    put(json, "text", value.text);
    put(json, "faqUrl", value.faqUrl);
}

void from_json(const platform::json::Json& json, ErrorResponse::TextAndFAQ& value) {
    value.text = required<std::string>(json, "text");
    value.faqUrl = optional<std::string>(json, "faqUrl");
}

void to_json(platform::json::Json& json, const ErrorResponse& value) {
    json = platform::json::Json::object();
    put(json, "error", value.error);
    put(json, "supportIds", value.supportIds);
    put(json, "en", value.en);
    put(json, "de", value.de);
    put(json, "fr", value.fr);
    put(json, "nl", value.nl);
}

void from_json(const platform::json::Json& json, ErrorResponse& value) {
    value.error = required<std::string>(json, "error");
    value.supportIds = optional<std::vector<std::string>>(json, "supportIds");
    value.en = required<ErrorResponse::TextAndFAQ>(json, "en");
    value.de = required<ErrorResponse::TextAndFAQ>(json, "de");
    value.fr = required<ErrorResponse::TextAndFAQ>(json, "fr");
    value.nl = required<ErrorResponse::TextAndFAQ>(json, "nl");
}

}  // namespace halcyra
