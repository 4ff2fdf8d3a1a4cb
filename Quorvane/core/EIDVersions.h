#pragma once
// The app-versions document: the app's releases for this platform, each with the system versions it is meant
// for, its version, its download links and the thresholds below which the running app is asked or made to
// upgrade. Only "platforms" -> "linux" -> "components" -> "quorvane" -> "releases" is read; every other key,
// at any level (the other platforms' entries included), is ignored. A null optional member counts as absent;
// a null required member as missing.
//
// Decoding is all or nothing: text that is not JSON, a missing required member anywhere (in any release), a
// value of the wrong type or a link that is not a valid URL fails the whole document.
//
// Version strings are free-form text here; they are compared only by the update rule.
#include <QUrl>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Json.h"

struct OSVersionRange {
    std::string min;                 // exclusive lower bound
    std::optional<std::string> max;  // exclusive upper bound; none: no upper bound
    friend bool operator==(const OSVersionRange&, const OSVersionRange&) = default;
};

struct ComponentLinks {
    QUrl default_;                                       // "default": used when no locale matches
    std::optional<std::map<std::string, QUrl>> locales;  // language code ("fr") -> download page
    friend bool operator==(const ComponentLinks&, const ComponentLinks&) = default;
};

struct AutoUpgrade {
    std::optional<std::string> suggestIfBelow;
    std::optional<std::string> forceIfBelow;
    friend bool operator==(const AutoUpgrade&, const AutoUpgrade&) = default;
};

struct Release {
    OSVersionRange osVersion;
    std::string version;
    ComponentLinks links;
    std::optional<AutoUpgrade> autoUpgrade;
    friend bool operator==(const Release&, const Release&) = default;
};

struct Component {
    std::vector<Release> releases;  // in file order; may be empty
    friend bool operator==(const Component&, const Component&) = default;
};

struct Components {
    Component quorvane;
    friend bool operator==(const Components&, const Components&) = default;
};

struct Platform {
    Components components;
    friend bool operator==(const Platform&, const Platform&) = default;
};

struct Platforms {
    Platform linux_;  // "linux": the releases of this build, for kernel versions
    friend bool operator==(const Platforms&, const Platforms&) = default;
};

struct EIDVersions {
    Platforms platforms;
    friend bool operator==(const EIDVersions&, const EIDVersions&) = default;

    // The real document is a few kilobytes; anything beyond this is not one.
    static constexpr std::size_t maxDocumentSize = 1024 * 1024;
    // Arrays and objects within one another, the document's own seven levels included (platform::json::parse
    // refuses deeper text).
    static constexpr std::size_t maxNestingDepth = platform::json::maxNestingDepth;

    // Decodes the raw bytes of a document; throws platform::json::DecodingError on any failure.
    static EIDVersions decode(std::string_view bytes);
};

void from_json(const platform::json::Json& json, OSVersionRange& value);
void from_json(const platform::json::Json& json, ComponentLinks& value);
void from_json(const platform::json::Json& json, AutoUpgrade& value);
void from_json(const platform::json::Json& json, Release& value);
void from_json(const platform::json::Json& json, Component& value);
void from_json(const platform::json::Json& json, Components& value);
void from_json(const platform::json::Json& json, Platform& value);
void from_json(const platform::json::Json& json, Platforms& value);
void from_json(const platform::json::Json& json, EIDVersions& value);

// The same keys; an absent optional member is left out.
void to_json(platform::json::Json& json, const OSVersionRange& value);
void to_json(platform::json::Json& json, const ComponentLinks& value);
void to_json(platform::json::Json& json, const AutoUpgrade& value);
void to_json(platform::json::Json& json, const Release& value);
void to_json(platform::json::Json& json, const Component& value);
void to_json(platform::json::Json& json, const Components& value);
void to_json(platform::json::Json& json, const Platform& value);
void to_json(platform::json::Json& json, const Platforms& value);
void to_json(platform::json::Json& json, const EIDVersions& value);
