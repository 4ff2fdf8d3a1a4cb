#pragma once
// The language code of a language identifier (the user's preferred languages come from platform::SystemInfo).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halcyra {

// The language part of an identifier such as "fr-CH", "zh_Hans_CN" or "nl": two or three ASCII letters, lower
// case. Nothing when the identifier does not start with one.
std::optional<std::string> languageCode(std::string_view identifier);

}  // namespace halcyra
