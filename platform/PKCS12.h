#pragma once
// Import of a PKCS#12 container: a client identity (certificate + private key) and what else it holds.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Bytes.h"
#include "Certificate.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace platform {

struct Identity {
    Certificate certificate;
    std::shared_ptr<EVP_PKEY> privateKey;
};

class PKCS12 {
  public:
    // Nothing on a wrong password, damaged bytes or an empty import. A container without a key/certificate
    // pair imports with no identity.
    static std::optional<PKCS12> make(const Bytes& pkcs12Data, const std::string& password);

    const std::optional<Identity>& identity() const { return identity_; }
    // What else the container held: the identity's friendly name and local key id, and its certificates (the
    // identity's certificate first).
    const std::optional<std::string>& label() const { return label_; }
    const std::optional<Bytes>& keyID() const { return keyID_; }
    const std::optional<std::vector<Certificate>>& certChain() const { return certChain_; }

  private:
    PKCS12() = default;
    std::optional<std::string> label_;
    std::optional<Bytes> keyID_;
    std::optional<std::vector<Certificate>> certChain_;
    std::optional<Identity> identity_;
};

}  // namespace platform
