#include "BulkSigningRequest.h"

namespace json = platform::json;

void from_json(const nlohmann::json& object, BulkSigningRequest::Document& document) {
    document.hash = json::required<std::string>(object, "hash_base64");
    document.docName = json::optional<std::string>(object, "docName");
}

void from_json(const nlohmann::json& object, BulkSigningRequest& request) {
    request.version = json::required<std::string>(object, "version");
    request.tokenId = json::required<std::string>(object, "tokenId");
    request.signData = json::required<std::vector<BulkSigningRequest::Document>>(object, "signData");
}

// Decoded member by member and then dropped: one tree of maps is all the request needs.
BulkSigningRequest BulkSigningRequest::fromJSON(std::string_view text) {
    return json::decode<BulkSigningRequest>(json::parseIntoMaps(text));
}
