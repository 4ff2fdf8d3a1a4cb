#pragma once
#include <optional>
#include <string_view>

namespace vastel {

enum class HTTPMethod { delete_, get, post, put };

// "DELETE", "GET", "POST", "PUT".
std::string_view rawValue(HTTPMethod method);
// Exactly one of the four texts (letter case counts), else nothing.
std::optional<HTTPMethod> httpMethodFromRawValue(std::string_view text);

}  // namespace vastel
