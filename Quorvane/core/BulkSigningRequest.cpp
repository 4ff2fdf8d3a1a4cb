#include "BulkSigningRequest.h"

namespace json = platform::json;

void from_json(const json::Json& object, BulkSigningRequest::Document& document) {
    document.hash = json::required<std::string>(object, "hash_base64");
    document.docName = json::optional<std::string>(object, "docName");
}

void from_json(const json::Json& object, BulkSigningRequest& request) {
    request.version = json::required<std::string>(object, "version");
    request.tokenId = json::required<std::string>(object, "tokenId");
    request.signData = json::required<std::vector<BulkSigningRequest::Document>>(object, "signData");
}

BulkSigningRequest BulkSigningRequest::fromJSON(std::string_view text) {
    return json::decode<BulkSigningRequest>(json::parse(text));
}
