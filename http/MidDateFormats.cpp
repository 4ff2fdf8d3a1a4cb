#include "http/MidDateFormats.h"

#include <chrono>
#include <cstdio>

namespace vastel {

namespace {

// Reads exactly `count` decimal digits at `pos`.
bool digits(std::string_view text, size_t pos, size_t count, int& out) {
    if (pos + count > text.size())
        return false;
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

bool literal(std::string_view text, size_t pos, char c) {
    return pos < text.size() && text[pos] == c;
}

}  // namespace

std::string DateFormatter::dateFormat() const {
    switch (format_) {
        case MidDateFormats::rfc3339:
            return "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ";
    }
    return {};
}

std::optional<platform::Date> DateFormatter::date(std::string_view text) const {
    using namespace std::chrono;
    // yyyy-MM-ddTHH:mm:ss.SSS = 23 characters, then the zone.
    int year, month, day, hour, minute, second, millis;
    if (!digits(text, 0, 4, year) || !literal(text, 4, '-') || !digits(text, 5, 2, month) ||
        !literal(text, 7, '-') || !digits(text, 8, 2, day) || !literal(text, 10, 'T') ||
        !digits(text, 11, 2, hour) || !literal(text, 13, ':') || !digits(text, 14, 2, minute) ||
        !literal(text, 16, ':') || !digits(text, 17, 2, second) || !literal(text, 19, '.') ||
        !digits(text, 20, 3, millis))
        return std::nullopt;
    std::string_view zone = text.substr(23);
    int offsetSeconds = 0;
    if (zone == "Z") {
        offsetSeconds = 0;
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
        int zoneHours, zoneMinutes;
        if (!digits(zone, 1, 2, zoneHours) || !digits(zone, 4, 2, zoneMinutes) || zoneHours > 23 ||
            zoneMinutes > 59)
            return std::nullopt;
        offsetSeconds = (zoneHours * 3600 + zoneMinutes * 60) * (zone[0] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    year_month_day ymd{std::chrono::year(year), std::chrono::month(unsigned(month)),
                       std::chrono::day(unsigned(day))};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    auto local = sys_days(ymd) + hours(hour) + minutes(minute) + seconds(second) + milliseconds(millis);
    return platform::clampedDate((local - seconds(offsetSeconds)).time_since_epoch());
}

std::string DateFormatter::string(platform::Date date) const {
    using namespace std::chrono;
    auto millis = floor<milliseconds>(date);
    auto days = floor<std::chrono::days>(millis);
    year_month_day ymd(days);
    hh_mm_ss<milliseconds> time(millis - days);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()), int(time.subseconds().count()));
    return buffer;
}

platform::Date decodeDate(const platform::json::Json& value, MidDateFormats format) {
    auto text = platform::json::decode<std::string>(value);
    auto date = DateFormatter(format).date(text);
    if (!date)
        throw platform::json::DecodingError("date \"" + text + "\" does not match the expected format");
    return *date;
}

platform::Date requiredDate(const platform::json::Json& object, std::string_view key, MidDateFormats format) {
    auto text = platform::json::required<std::string>(object, key);
    try {
        return decodeDate(text, format);
    } catch (const platform::json::DecodingError& e) {
        throw platform::json::DecodingError("member \"" + std::string(key) + "\": " + e.what());
    }
}

std::optional<platform::Date> optionalDate(const platform::json::Json& object, std::string_view key,
                                           MidDateFormats format) {
    auto text = platform::json::optional<std::string>(object, key);
    if (!text)
        return std::nullopt;
    try {
        return decodeDate(*text, format);
    } catch (const platform::json::DecodingError& e) {
        throw platform::json::DecodingError("member \"" + std::string(key) + "\": " + e.what());
    }
}

}  // namespace vastel
