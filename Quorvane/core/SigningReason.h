#pragma once
// Why the user is asked to authenticate or to sign; the PIN and wallet sheets pick their texts from it.
#include <optional>
#include <vector>

#include "BulkSigningRequest.h"
#include "platform/Bytes.h"

struct SigningReason {
    enum class Kind {
        actualSigning,  // hashToSign and documents
        accountInfoAuthentication,
        certificateRetrievalAuthentication,
        accountCreationAuthentication,
        agreementSigning,
        signingAuthentication,
    };

    Kind kind = Kind::signingAuthentication;
    // actualSigning only: the hash about to be signed and the documents it stands for.
    std::optional<platform::Bytes> hashToSign;
    std::optional<std::vector<BulkSigningRequest::Document>> documents;

    static SigningReason actualSigning(std::optional<platform::Bytes> hashToSign,
                                       std::optional<std::vector<BulkSigningRequest::Document>> documents) {
        return {Kind::actualSigning, std::move(hashToSign), std::move(documents)};
    }
    static SigningReason of(Kind kind) { return {kind, std::nullopt, std::nullopt}; }

    friend bool operator==(const SigningReason&, const SigningReason&) = default;
};
