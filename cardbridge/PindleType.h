#pragma once
// The kind of card reader: it decides whether the PIN is typed in the app or on the reader's own keypad.
#include <optional>
#include <string_view>

namespace pindle {

enum class PindleType { standard, pinPad };

inline std::string_view rawValue(PindleType type) {
    return type == PindleType::standard ? "standard" : "pinpad";
}

// Exact match of the reader's "ReaderType", letter case included.
inline std::optional<PindleType> pindleTypeFromRaw(std::string_view text) {
    if (text == "standard")
        return PindleType::standard;
    if (text == "pinpad")
        return PindleType::pinPad;
    return std::nullopt;
}

}  // namespace pindle
