#pragma once
// The main bundle's information dictionary: the app's short version ("CFBundleShortVersionString") and build
// number ("CFBundleVersion"), both set by the build. Tests replace the dictionary, or take it away.
#include <map>
#include <optional>
#include <string>

namespace platform {

class BundleInfo {
  public:
    using Dictionary = std::map<std::string, std::string>;

    static constexpr const char* shortVersionKey = "CFBundleShortVersionString";
    static constexpr const char* versionKey = "CFBundleVersion";

    // The dictionary; none when there is none (only ever so in tests).
    static std::optional<Dictionary> mainInfoDictionary();
    // The value of one key of the dictionary, when both exist.
    static std::optional<std::string> mainInfoValue(const std::string& key);

    // Tests: answer this dictionary (std::nullopt inside: no dictionary) until resetMainInfoDictionary().
    static void overrideMainInfoDictionary(std::optional<Dictionary> dictionary);
    static void resetMainInfoDictionary();
};

}  // namespace platform
