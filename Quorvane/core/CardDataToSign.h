#pragma once
// What the card signs for the server: the Base64url "hashToSign" of the server's eID data, for the login and
// for the consent alike. Without usable data the holder would type the PIN to sign nothing and fail at the
// server afterwards, so it fails before the card is asked.
#include <optional>
#include <string>

#include "platform/Bytes.h"

// The decoded bytes; fails with halcyra::HalcyraError (other error) when the server sent no data, or data
// that does not decode to any bytes.
platform::Bytes cardDataToSign(const std::optional<std::string>& hashToSign);
