#pragma once
// Date formats of JSON replies. rfc3339 reads and writes "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ" with the Gregorian
// calendar and POSIX conventions whatever the machine's locale, and writes in GMT
// ("2024-02-29T13:05:09.120Z").
#include <optional>
#include <string>
#include <string_view>

#include "platform/Date.h"
#include "platform/Json.h"

namespace vastel {

enum class MidDateFormats { rfc3339 };

class DateFormatter {
  public:
    explicit DateFormatter(MidDateFormats format) : format_(format) {}
    std::string dateFormat() const;
    // Nothing when the text does not match the format exactly (three fraction digits; "Z" or
    // "+hh:mm"/"-hh:mm"; a date and time that exist).
    std::optional<platform::Date> date(std::string_view text) const;
    std::string string(platform::Date date) const;

  private:
    MidDateFormats format_;
};

// A new formatter on every call.
inline DateFormatter dateFormatter(MidDateFormats format) {
    return DateFormatter(format);
}

// Members of JSON wire types that hold such dates: a text that does not match is a DecodingError.
platform::Date decodeDate(const platform::json::Json& value, MidDateFormats format = MidDateFormats::rfc3339);
platform::Date requiredDate(const platform::json::Json& object, std::string_view key,
                            MidDateFormats format = MidDateFormats::rfc3339);
std::optional<platform::Date> optionalDate(const platform::json::Json& object, std::string_view key,
                                           MidDateFormats format = MidDateFormats::rfc3339);

}  // namespace vastel
