#pragma once
// Dates in the server's results: "yyyy-MM-dd'T'HH:mm:ss.SSS" and a zone ("+0100", "-05:30" or "Z"), always
// the Gregorian calendar year, whatever the user's locale, calendar or clock settings.
#include <optional>
#include <string_view>

#include "platform/Date.h"

namespace halcyra {

// Nothing for any other text, a value without milliseconds included.
std::optional<platform::Date> parseResultDate(std::string_view text);

}  // namespace halcyra
