#pragma once
// Enumerations that travel as text: one table of (value, text) pairs serves both directions.
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace halcyra::raw {

template <class E, std::size_t N>
std::optional<E> fromRaw(const std::pair<E, std::string_view> (&table)[N], std::string_view text) {
    for (const auto& [value, raw] : table)
        if (raw == text)
            return value;
    return std::nullopt;
}

template <class E, std::size_t N>
std::string_view toRaw(const std::pair<E, std::string_view> (&table)[N], E value) {
    for (const auto& [candidate, raw] : table)
        if (candidate == value)
            return raw;
    return {};
}

}  // namespace halcyra::raw
