#include "http/VastelClient.h"

namespace vastel {

bool isValidUTF8(const platform::Bytes& bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t c = bytes[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        std::uint32_t codePoint;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            codePoint = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            codePoint = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (i + length > n)
            return false;
        for (size_t k = 1; k < length; ++k) {
            const std::uint8_t continuation = bytes[i + k];
            if ((continuation & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (continuation & 0x3F);
        }
        // Overlong forms, UTF-16 surrogates and values past U+10FFFF.
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) ||
            codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

}  // namespace vastel
