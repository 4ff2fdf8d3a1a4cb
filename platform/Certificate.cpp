#include "Certificate.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>
#include <stdexcept>

namespace platform {

namespace {

std::shared_ptr<X509> own(X509* x509) {
    return std::shared_ptr<X509>(x509, X509_free);
}

std::optional<Bytes> derOf(X509* x509) {
    int length = i2d_X509(x509, nullptr);
    if (length <= 0)
        return std::nullopt;
    Bytes der(static_cast<size_t>(length));
    unsigned char* out = der.data();
    if (i2d_X509(x509, &out) != length)
        return std::nullopt;
    return der;
}

}  // namespace

std::optional<Certificate> Certificate::fromDER(const Bytes& der) {
    if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX))
        return std::nullopt;
    const unsigned char* in = der.data();
    X509* parsed = d2i_X509(nullptr, &in, static_cast<long>(der.size()));
    if (!parsed) {
        // Leave no stale error behind for the next TLS call on this thread.
        ERR_clear_error();
        return std::nullopt;
    }
    auto x509 = own(parsed);
    // A certificate followed by anything else is not a certificate.
    if (in != der.data() + der.size())
        return std::nullopt;
    return Certificate(std::move(x509), der);
}

std::optional<Certificate> Certificate::fromPEM(std::string_view pem) {
    if (pem.empty() || pem.size() > static_cast<size_t>(INT_MAX))
        return std::nullopt;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  BIO_free);
    if (!bio)
        return std::nullopt;
    X509* parsed = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (!parsed) {
        ERR_clear_error();
        return std::nullopt;
    }
    auto x509 = own(parsed);
    auto der = derOf(parsed);
    if (!der)
        return std::nullopt;
    return Certificate(std::move(x509), std::move(*der));
}

Certificate Certificate::fromX509(X509* x509) {
    if (!x509)
        throw std::invalid_argument("Certificate::fromX509: no certificate");
    X509_up_ref(x509);
    auto owned = own(x509);
    return Certificate(owned, derOf(x509).value_or(Bytes{}));
}

}  // namespace platform
