#pragma once
// QR codes (byte mode, error correction level L, versions 1 to 5) rendered as PNG images.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The modules of the QR symbol, row by row (true = dark); nothing when the text is longer than 106 bytes.
std::optional<std::vector<std::vector<bool>>> qrModules(const std::string& text);

// A grayscale PNG of the symbol with a quiet zone of four modules, `scale` pixels per module.
std::vector<std::uint8_t> qrCodePNG(const std::string& text, int scale = 6);

}  // namespace sim
