#pragma once
// The demo's bulk callback page: what a signing request's callback receives ("signatures" or "error"), each
// signature checked against the hashes the server consented to and the certificate it signed them with.
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Crypto.h"

namespace sim {

class SignedConsents {
  public:
    // A consent the server signed: its document hashes in request order and the signer's certificate.
    void add(std::vector<Bytes> hashes, X509* certificate);

    // The HTML page for a callback's query values.
    std::string page(const std::optional<std::string>& signatures,
                     const std::optional<std::string>& error) const;

  private:
    struct Consent {
        std::vector<Bytes> hashes;
        Cert certificate;
    };
    mutable std::mutex mutex_;
    std::deque<std::shared_ptr<const Consent>> consents_;  // newest first, a bounded number
};

}  // namespace sim
