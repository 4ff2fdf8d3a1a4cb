#include "SHA256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace platform {

namespace {

// Fetched once: handed the built-in method, OpenSSL looks the implementation up again on every digest.
const EVP_MD* sha256Method() {
    static const EVP_MD* const method = [] {
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        return fetched ? fetched : EVP_sha256();
    }();
    return method;
}

}  // namespace

Bytes sha256(const Bytes& bytes) {
    Bytes digest(32);
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, sha256Method(), nullptr) != 1 ||
        length != 32)
        throw std::runtime_error("SHA-256 is not available");
    return digest;
}

}  // namespace platform
