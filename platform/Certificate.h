#pragma once
// An X.509 certificate made from DER bytes (OpenSSL). Immutable; copies share the parsed object.
#include <memory>
#include <optional>

#include "Bytes.h"

typedef struct x509_st X509;

namespace platform {

class Certificate {
  public:
    // Nothing when the bytes are not exactly one DER certificate (trailing bytes included).
    static std::optional<Certificate> fromDER(const Bytes& der);
    // Nothing when the text holds no PEM certificate; the first one is taken.
    static std::optional<Certificate> fromPEM(std::string_view pem);
    // Takes one reference of its own on the object.
    static Certificate fromX509(X509* x509);

    const Bytes& data() const { return der_; }
    X509* x509() const { return x509_.get(); }

    bool operator==(const Certificate& other) const { return der_ == other.der_; }

  private:
    Certificate(std::shared_ptr<X509> x509, Bytes der) : x509_(std::move(x509)), der_(std::move(der)) {}
    std::shared_ptr<X509> x509_;
    Bytes der_;
};

}  // namespace platform
