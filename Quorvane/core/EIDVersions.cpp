#include "EIDVersions.h"

#include <QString>

using platform::json::DecodingError;
using platform::json::Json;

namespace {

QUrl decodeURL(const Json& json) {
    const auto text = platform::json::decode<std::string>(json);
    QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    // Strict mode still takes a '#' within the fragment and Unicode noncharacters, and writes them out as
    // another link than the one read: a link counts only when its encoded form reads back to it.
    if (text.empty() || !url.isValid() || QUrl(url.toString(QUrl::FullyEncoded), QUrl::StrictMode) != url)
        throw DecodingError("not a valid URL: \"" + text + "\"");
    return url;
}

QUrl requiredURL(const Json& object, std::string_view key) {
    return decodeURL(platform::json::required<Json>(object, key));
}

std::optional<std::map<std::string, QUrl>> optionalURLMap(const Json& object, std::string_view key) {
    auto member = platform::json::optional<Json>(object, key);
    if (!member)
        return std::nullopt;
    if (!member->is_object())
        throw DecodingError("member \"" + std::string(key) + "\": expected an object");
    std::map<std::string, QUrl> urls;
    for (const auto& [code, value] : member->items()) {
        try {
            urls.emplace(code, decodeURL(value));
        } catch (const DecodingError& e) {
            throw DecodingError("member \"" + std::string(key) + "\": \"" + code + "\": " + e.what());
        }
    }
    return urls;
}

std::string urlText(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded).toStdString();
}

}  // namespace

void from_json(const Json& json, OSVersionRange& value) {
    value.min = platform::json::required<std::string>(json, "min");
    value.max = platform::json::optional<std::string>(json, "max");
}

void from_json(const Json& json, ComponentLinks& value) {
    value.default_ = requiredURL(json, "default");
    value.locales = optionalURLMap(json, "locales");
}

void from_json(const Json& json, AutoUpgrade& value) {
    value.suggestIfBelow = platform::json::optional<std::string>(json, "suggestIfBelow");
    value.forceIfBelow = platform::json::optional<std::string>(json, "forceIfBelow");
}

void from_json(const Json& json, Release& value) {
    value.osVersion = platform::json::required<OSVersionRange>(json, "osVersion");
    value.version = platform::json::required<std::string>(json, "version");
    value.links = platform::json::required<ComponentLinks>(json, "links");
    value.autoUpgrade = platform::json::optional<AutoUpgrade>(json, "autoUpgrade");
}

void from_json(const Json& json, Component& value) {
    value.releases = platform::json::required<std::vector<Release>>(json, "releases");
}

void from_json(const Json& json, Components& value) {
    value.quorvane = platform::json::required<Component>(json, "quorvane");
}

void from_json(const Json& json, Platform& value) {
    value.components = platform::json::required<Components>(json, "components");
}

void from_json(const Json& json, Platforms& value) {
    value.linux_ = platform::json::required<Platform>(json, "linux");
}

void from_json(const Json& json, EIDVersions& value) {
    value.platforms = platform::json::required<Platforms>(json, "platforms");
}

EIDVersions EIDVersions::decode(std::string_view bytes) {
    if (bytes.size() > maxDocumentSize)
        throw DecodingError("the document is larger than " + std::to_string(maxDocumentSize) + " bytes");
    return platform::json::decode<EIDVersions>(platform::json::parse(bytes));
}

void to_json(Json& json, const OSVersionRange& value) {
    json = Json::object();
    platform::json::put(json, "min", value.min);
    platform::json::put(json, "max", value.max);
}

void to_json(Json& json, const ComponentLinks& value) {
    json = Json::object();
    platform::json::put(json, "default", urlText(value.default_));
    if (value.locales) {
        Json locales = Json::object();
        for (const auto& [code, url] : *value.locales)
            locales[code] = urlText(url);
        json["locales"] = std::move(locales);
    }
}

void to_json(Json& json, const AutoUpgrade& value) {
    json = Json::object();
    platform::json::put(json, "suggestIfBelow", value.suggestIfBelow);
    platform::json::put(json, "forceIfBelow", value.forceIfBelow);
}

void to_json(Json& json, const Release& value) {
    json = Json::object();
    platform::json::put(json, "osVersion", value.osVersion);
    platform::json::put(json, "version", value.version);
    platform::json::put(json, "links", value.links);
    platform::json::put(json, "autoUpgrade", value.autoUpgrade);
}

void to_json(Json& json, const Component& value) {
    json = Json::object();
    platform::json::put(json, "releases", value.releases);
}

void to_json(Json& json, const Components& value) {
    json = Json::object();
    platform::json::put(json, "quorvane", value.quorvane);
}

void to_json(Json& json, const Platform& value) {
    json = Json::object();
    platform::json::put(json, "components", value.components);
}

void to_json(Json& json, const Platforms& value) {
    json = Json::object();
    platform::json::put(json, "linux", value.linux_);
}

void to_json(Json& json, const EIDVersions& value) {
    json = Json::object();
    platform::json::put(json, "platforms", value.platforms);
}
