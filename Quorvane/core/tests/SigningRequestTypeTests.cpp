#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Quorvane/core/SigningRequestType.h"
#include "platform/Codecs.h"

using platform::Bytes;

namespace {

Bytes countingBytes(std::size_t count, std::uint8_t start = 1) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(start + i);
    return bytes;
}

std::vector<std::pair<std::string, std::string>> entries(const SigningRequestType& request) {
    std::vector<std::pair<std::string, std::string>> result;
    for (const auto& hash : request.hashesToSign())
        result.emplace_back(hash.label, hash.hash);
    return result;
}

TEST(BulkSigningRequestTest, AcceptedDocuments) {
    auto request = BulkSigningRequest::fromJSON(R"({"version": "1", "tokenId": "card-1", "extra": [1, 2],
        "signData": [{"hash_base64": "AAEC", "docName": "a.pdf", "other": true},
                     {"hash_base64": "not base64 at all"},
                     {"hash_base64": "", "docName": null},
                     {"docName": "", "hash_base64": "AQ=="}]})");
    EXPECT_EQ(request.version, "1");
    EXPECT_EQ(request.tokenId, "card-1");
    // Hash texts are carried as written; only hashesToSign looks at them.
    EXPECT_EQ(request.signData,
              (std::vector<BulkSigningRequest::Document>{
                  {"AAEC", "a.pdf"}, {"not base64 at all", std::nullopt}, {"", std::nullopt}, {"AQ==", ""}}));

    auto empty = BulkSigningRequest::fromJSON(R"({"version": "", "tokenId": "", "signData": []})");
    EXPECT_TRUE(empty.signData.empty());
    EXPECT_TRUE(SigningRequestType::bulk(empty, "https://caller.test/done").hashesToSign().empty());
}

TEST(BulkSigningRequestTest, RefusedDocuments) {
    const char* refused[] = {
        "",
        "not json",
        R"([{"version": "1", "tokenId": "t", "signData": []}])",
        "null",
        R"("text")",
        R"({"tokenId": "t", "signData": []})",
        R"({"version": "1", "signData": []})",
        R"({"version": "1", "tokenId": "t"})",
        R"({"version": null, "tokenId": "t", "signData": []})",
        R"({"version": 1, "tokenId": "t", "signData": []})",
        R"({"version": "1", "tokenId": 42, "signData": []})",
        R"({"version": "1", "TokenId": "t", "signData": []})",
        R"({"version": "1", "tokenId": "t", "signData": {}})",
        R"({"version": "1", "tokenId": "t", "signData": null})",
        R"({"version": "1", "tokenId": "t", "signData": ["AAEC"]})",
        R"({"version": "1", "tokenId": "t", "signData": [{"hash": "AAEC"}]})",
        R"({"version": "1", "tokenId": "t", "signData": [{"hash_base64": null}]})",
        R"({"version": "1", "tokenId": "t", "signData": [{"hash_base64": ["AAEC"]}]})",
        R"({"version": "1", "tokenId": "t", "signData": [{"hash_base64": "AAEC", "docName": 7}]})",
        R"({"version": "1", "tokenId": "t", "signData": [{"hash_base64": "AAEC"}, {}]})",
        R"({"version": "1", "tokenId": "t", "signData": []} trailing)",
    };
    for (const char* text : refused)
        EXPECT_THROW(BulkSigningRequest::fromJSON(text), platform::json::DecodingError) << text;
}

TEST(SigningRequestTypeTest, BulkHashesAreCutToThirtyTwoBytesAndStrictlyDecoded) {
    const auto b32 = platform::base64Encoded(countingBytes(32));
    const auto b48 = platform::base64Encoded(countingBytes(48));
    const auto b64 = platform::base64Encoded(countingBytes(64));
    const auto b20 = platform::base64Encoded(countingBytes(20));
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {b32, b32},
        {b20, b20},
        {b48, b32},
        {b64, b32},
        {"", ""},
        {b32.substr(0, 20) + "\n" + b32.substr(20), ""},
        {b32.substr(0, 20) + "\r\n" + b32.substr(20), ""},
        {" " + b32, ""},
        {b32 + " ", ""},
        {"AQ", ""},        // padding missing
        {"AQ=", ""},       // padding short
        {"AQ===", ""},     // padding too long
        {"-_8=", ""},      // Base64url alphabet
        {"AA*A", ""},      // outside the alphabet
        {"AQ==AQ==", ""},  // padding inside
    };
    BulkSigningRequest request{"1", "t", {}};
    for (const auto& c : cases)
        request.signData.push_back({c.text, "doc"});
    auto hashes = entries(SigningRequestType::bulk(request, "cb"));
    ASSERT_EQ(hashes.size(), std::size(cases));
    for (std::size_t i = 0; i < hashes.size(); ++i)
        EXPECT_EQ(hashes[i].second, cases[i].expected) << "hash text \"" << cases[i].text << "\"";
}

TEST(SigningRequestTypeTest, BulkLabelsKeepOrderAndOnlyAnAbsentNameBecomesDummy) {
    auto request = BulkSigningRequest::fromJSON(R"({"version": "1", "tokenId": "t", "signData": [
        {"hash_base64": "AQ==", "docName": "first.pdf"},
        {"hash_base64": "Ag=="},
        {"hash_base64": "Aw==", "docName": null},
        {"hash_base64": "BA==", "docName": ""},
        {"hash_base64": "BQ==", "docName": "dummy.pdf"}]})");
    EXPECT_EQ(entries(SigningRequestType::bulk(request, "cb")),
              (std::vector<std::pair<std::string, std::string>>{{"first.pdf", "AQ=="},
                                                                {"dummy.pdf", "Ag=="},
                                                                {"dummy.pdf", "Aw=="},
                                                                {"", "BA=="},
                                                                {"dummy.pdf", "BQ=="}}));
}

TEST(SigningRequestTypeTest, RelayedHashIsOneDummyEntry) {
    using Entries = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(entries(SigningRequestType::overXPC()), (Entries{{"dummy.pdf", ""}}));
    EXPECT_EQ(entries(SigningRequestType::overXPC(Bytes{})), (Entries{{"dummy.pdf", ""}}));
    EXPECT_EQ(entries(SigningRequestType::overXPC(countingBytes(32))),
              (Entries{{"dummy.pdf", platform::base64Encoded(countingBytes(32))}}));
    EXPECT_EQ(entries(SigningRequestType::overXPC(countingBytes(64, 9))),
              (Entries{{"dummy.pdf", platform::base64Encoded(countingBytes(32, 9))}}));
}

TEST(SigningRequestTypeTest, HashAlgorithmByLength) {
    const std::pair<std::size_t, const char*> cases[] = {
        {32, "2.16.840.1.101.3.4.2.1"}, {48, "2.16.840.1.101.3.4.2.2"}, {0, "2.16.840.1.101.3.4.2.3"},
        {1, "2.16.840.1.101.3.4.2.3"},  {31, "2.16.840.1.101.3.4.2.3"}, {33, "2.16.840.1.101.3.4.2.3"},
        {47, "2.16.840.1.101.3.4.2.3"}, {49, "2.16.840.1.101.3.4.2.3"}, {64, "2.16.840.1.101.3.4.2.3"},
    };
    for (const auto& [length, oid] : cases)
        EXPECT_EQ(SigningRequestType::hashAlgorithmOID(Bytes(length, 0xAB)), oid) << length << " bytes";
}

TEST(SigningRequestTypeTest, Equality) {
    BulkSigningRequest request{"1", "t", {{"AQ==", std::nullopt}, {"Ag==", "b.pdf"}}};
    auto unnamedAsEmpty = request;
    unnamedAsEmpty.signData[0].docName = "";
    auto otherToken = request;
    otherToken.tokenId = "u";
    auto reordered = request;
    std::swap(reordered.signData[0], reordered.signData[1]);
    auto shorter = request;
    shorter.signData.pop_back();

    const std::vector<std::pair<SigningRequestType, SigningRequestType>> equal = {
        {SigningRequestType::overXPC(), SigningRequestType::overXPC()},
        {SigningRequestType::overXPC(Bytes{1, 2}), SigningRequestType::overXPC(Bytes{1, 2})},
        {SigningRequestType::bulk(request, "cb"), SigningRequestType::bulk(request, "cb")},
    };
    const std::vector<std::pair<SigningRequestType, SigningRequestType>> different = {
        {SigningRequestType::overXPC(), SigningRequestType::overXPC(Bytes{})},
        {SigningRequestType::overXPC(Bytes{1, 2}), SigningRequestType::overXPC(Bytes{1, 3})},
        {SigningRequestType::bulk(request, "cb"), SigningRequestType::bulk(request, "cb2")},
        {SigningRequestType::bulk(request, "cb"), SigningRequestType::bulk(unnamedAsEmpty, "cb")},
        {SigningRequestType::bulk(request, "cb"), SigningRequestType::bulk(otherToken, "cb")},
        {SigningRequestType::bulk(request, "cb"), SigningRequestType::bulk(reordered, "cb")},
        {SigningRequestType::bulk(request, "cb"), SigningRequestType::bulk(shorter, "cb")},
        {SigningRequestType::overXPC(), SigningRequestType::bulk(BulkSigningRequest{}, "")},
    };
    for (const auto& [a, b] : equal)
        EXPECT_TRUE(a == b);
    for (const auto& [a, b] : different) {
        EXPECT_FALSE(a == b);
        EXPECT_FALSE(b == a);
    }
}

}  // namespace
