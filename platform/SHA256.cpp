#include "SHA256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace platform {

Bytes sha256(const Bytes& bytes) {
    Bytes digest(32);
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != 32)
        throw std::runtime_error("SHA-256 is not available");
    return digest;
}

}  // namespace platform
