#include "http/URLRequest.h"

#include <algorithm>

namespace vastel {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

void HTTPHeaderFields::setValue(std::string value, std::string_view field) {
    auto it = std::find_if(fields_.begin(), fields_.end(),
                           [&](const auto& f) { return equalsIgnoringCase(f.first, field); });
    if (it != fields_.end()) {
        it->first = std::string(field);
        it->second = std::move(value);
    } else {
        fields_.emplace_back(std::string(field), std::move(value));
    }
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view field) const {
    for (const auto& f : fields_)
        if (equalsIgnoringCase(f.first, field))
            return f.second;
    return std::nullopt;
}

void HTTPHeaderFields::remove(std::string_view field) {
    std::erase_if(fields_, [&](const auto& f) { return equalsIgnoringCase(f.first, field); });
}

}  // namespace vastel
