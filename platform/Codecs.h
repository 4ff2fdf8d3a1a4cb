#pragma once
// Strict Base64, Base64url and Crockford Base32. A decoder answers nothing for any text that is not exactly a
// valid encoding (no whitespace, no foreign characters, correct padding); lenient decoders hide bad input.
#include <optional>
#include <string>
#include <string_view>

#include "Bytes.h"

namespace platform {

// Standard alphabet, padding required.
std::string base64Encoded(const Bytes& bytes);
std::optional<Bytes> base64Decoded(std::string_view text);

// URL-safe alphabet ('-' and '_'); the decoder accepts the text with or without padding.
std::string base64URLEncoded(const Bytes& bytes);
std::optional<Bytes> base64URLDecoded(std::string_view text);

// Crockford's Base32 (upper case, no padding); the decoder also takes lower case and the aliases O->0,
// I/L->1.
std::string crockfordBase32Encoded(const Bytes& bytes);
std::optional<Bytes> crockfordBase32Decoded(std::string_view text);

}  // namespace platform
