#pragma once
// What the app is asked to sign: one hash relayed from the token over XPC (absent until it has arrived), or a
// bulk request from a deep link with the URL to answer. It yields the hash entries and the hash-algorithm
// identifier of the consent request.
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "BulkSigningRequest.h"
#include "api/Consent.h"
#include "platform/Bytes.h"

struct SigningRequestType {
    struct OverXPC {
        std::optional<platform::Bytes> hash;
        friend bool operator==(const OverXPC&, const OverXPC&) = default;
    };
    struct Bulk {
        BulkSigningRequest request;
        std::string callbackLink;
        friend bool operator==(const Bulk&, const Bulk&) = default;
    };

    std::variant<OverXPC, Bulk> value;

    static SigningRequestType overXPC(std::optional<platform::Bytes> hash = std::nullopt) {
        return {OverXPC{std::move(hash)}};
    }
    static SigningRequestType bulk(BulkSigningRequest request, std::string callbackLink) {
        return {Bulk{std::move(request), std::move(callbackLink)}};
    }

    // The label of a hash without a document name.
    static constexpr const char* unnamedDocumentLabel = "dummy.pdf";

    // One entry per hash, in order. Each hash is cut to its first 32 bytes and sent as canonical standard
    // Base64; a bulk hash that is not strict standard Base64 is sent as empty text. A document without a name
    // is labelled "dummy.pdf"; an empty name stays empty.
    std::vector<halcyra::GetDataToConsentRequest::HashToSign> hashesToSign() const;

    // The hash algorithm by the hash's length: 32 bytes SHA-256, 48 bytes SHA-384, anything else SHA-512.
    static std::string hashAlgorithmOID(const platform::Bytes& hash);

    friend bool operator==(const SigningRequestType&, const SigningRequestType&) = default;
};
