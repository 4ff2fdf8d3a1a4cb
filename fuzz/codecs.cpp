// platform/Codecs: every byte string encodes and decodes back, and a text that decodes is the one encoding of
// its bytes (Base64url with or without its padding; Crockford in any letter case and with its aliases).
#include <algorithm>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "platform/Codecs.h"

namespace {

std::string withoutPadding(std::string text) {
    text.erase(std::find(text.begin(), text.end(), '='), text.end());
    return text;
}

std::string crockfordCanonical(std::string_view text) {
    std::string out;
    for (char c : text) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        out += c == 'O' ? '0' : c == 'I' || c == 'L' ? '1' : c;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::Bytes bytes(data, data + size);
    FUZZ_CHECK(platform::base64Decoded(platform::base64Encoded(bytes)) == bytes, "Base64 round trip");
    FUZZ_CHECK(platform::base64URLDecoded(platform::base64URLEncoded(bytes)) == bytes,
               "Base64url round trip");
    FUZZ_CHECK(platform::base64URLDecoded(withoutPadding(platform::base64URLEncoded(bytes))) == bytes,
               "unpadded Base64url round trip");
    FUZZ_CHECK(platform::crockfordBase32Decoded(platform::crockfordBase32Encoded(bytes)) == bytes,
               "Crockford round trip");

    const auto text = fuzz::text(data, size);
    if (auto decoded = platform::base64Decoded(text))
        FUZZ_CHECK(platform::base64Encoded(*decoded) == text, "Base64 takes only the one encoding");
    if (auto decoded = platform::base64URLDecoded(text)) {
        const auto encoded = platform::base64URLEncoded(*decoded);
        FUZZ_CHECK(encoded == text || withoutPadding(encoded) == text,
                   "Base64url takes only the one encoding");
    }
    if (auto decoded = platform::crockfordBase32Decoded(text))
        FUZZ_CHECK(platform::crockfordBase32Encoded(*decoded) == crockfordCanonical(text),
                   "Crockford takes only the one encoding, up to case and aliases");
    return 0;
}
