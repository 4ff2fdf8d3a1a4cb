#pragma once
#include "Bytes.h"

namespace platform {

// The 32-byte SHA-256 digest of the bytes.
Bytes sha256(const Bytes& bytes);

}  // namespace platform
