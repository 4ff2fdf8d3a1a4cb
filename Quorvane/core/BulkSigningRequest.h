#pragma once
// A bulk signing request as the "bulk" deep link carries it: which certificate to sign with and the hashes of
// the documents, each as standard Base64 text. Decoded strictly; never encoded back.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Json.h"

struct BulkSigningRequest {
    struct Document {
        std::string hash;  // JSON key "hash_base64"; not examined when decoding
        std::optional<std::string> docName;
        friend bool operator==(const Document&, const Document&) = default;
    };

    std::string version;
    std::string tokenId;
    std::vector<Document> signData;

    friend bool operator==(const BulkSigningRequest&, const BulkSigningRequest&) = default;

    // Decodes one request from JSON text: the top level must be an object with the string members "version"
    // and "tokenId" and the array "signData" of objects, each with the string "hash_base64" and, unless
    // absent or null, the string "docName". Other keys are ignored. Anything else throws
    // platform::json::DecodingError and yields nothing.
    static BulkSigningRequest fromJSON(std::string_view text);
};

void from_json(const nlohmann::json& json, BulkSigningRequest::Document& document);
void from_json(const nlohmann::json& json, BulkSigningRequest& request);
