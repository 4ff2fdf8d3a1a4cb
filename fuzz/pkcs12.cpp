// PKCS#12 import (platform/PKCS12). The input is one byte n, a password of n bytes, then the container. An
// imported identity's key belongs to its certificate, which leads the chain, and every certificate of the
// chain is one that reads back from its own bytes.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <string>

#include "fuzz/FuzzCheck.h"
#include "platform/PKCS12.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t passwordSize = std::min<std::size_t>(data[0], size - 1);
    const std::string password(reinterpret_cast<const char*>(data + 1), passwordSize);
    const platform::Bytes container(data + 1 + passwordSize, data + size);

    auto imported = platform::PKCS12::make(container, password);
    if (!imported)
        return 0;
    if (const auto& chain = imported->certChain()) {
        FUZZ_CHECK(!chain->empty(), "a chain, when there is one, holds certificates");
        for (const auto& certificate : *chain) {
            auto reread = platform::Certificate::fromDER(certificate.data());
            FUZZ_CHECK(reread && *reread == certificate, "each certificate reads back from its bytes");
        }
    }
    if (const auto& identity = imported->identity()) {
        FUZZ_CHECK(identity->privateKey != nullptr, "an identity has its key");
        FUZZ_CHECK(imported->certChain() && imported->certChain()->front() == identity->certificate,
                   "the identity's certificate leads the chain");
        if (!imported->keyID()) {
            ERR_set_mark();
            const bool matches =
                X509_check_private_key(identity->certificate.x509(), identity->privateKey.get()) == 1;
            ERR_pop_to_mark();
            FUZZ_CHECK(matches, "without a key id, the key is the certificate's");
        }
    }
    ERR_clear_error();
    return 0;
}
