#include "api/ResultDate.h"

#include <chrono>

namespace halcyra {

namespace {

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out) {
    if (at + count > text.size())
        return false;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    out = value;
    return true;
}

}  // namespace

std::optional<platform::Date> parseResultDate(std::string_view text) {
    int year, month, day, hour, minute, second, millisecond;
    if (!digits(text, 0, 4, year) || text.size() < 24 || text[4] != '-' || !digits(text, 5, 2, month) ||
        text[7] != '-' || !digits(text, 8, 2, day) || text[10] != 'T' || !digits(text, 11, 2, hour) ||
        text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second) ||
        text[19] != '.' || !digits(text, 20, 3, millisecond))
        return std::nullopt;
    using namespace std::chrono;
    year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                        std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;

    std::string_view zone = text.substr(23);
    int offsetMinutes = 0;
    if (zone != "Z") {
        int zoneHours, zoneMinutes;
        bool basic = zone.size() == 5 && digits(zone, 1, 2, zoneHours) && digits(zone, 3, 2, zoneMinutes);
        bool extended = zone.size() == 6 && zone[3] == ':' && digits(zone, 1, 2, zoneHours) &&
                        digits(zone, 4, 2, zoneMinutes);
        if ((!basic && !extended) || (zone[0] != '+' && zone[0] != '-') || zoneHours > 23 || zoneMinutes > 59)
            return std::nullopt;
        offsetMinutes = (zoneHours * 60 + zoneMinutes) * (zone[0] == '-' ? -1 : 1);
    }
    auto local = sys_days(date) + hours(hour) + minutes(minute) + seconds(second) + milliseconds(millisecond);
    return platform::clampedDate((local - minutes(offsetMinutes)).time_since_epoch());
}

}  // namespace halcyra
