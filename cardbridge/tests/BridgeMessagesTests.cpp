// The bridge's JSON: key order and fixed values of the requests, strict reading of the replies.
#include <gtest/gtest.h>

#include <functional>

#include "cardbridge/BridgeMessages.h"

using namespace pindle;
using platform::json::decode;
using platform::json::parse;

namespace {
std::vector<std::string> keys(const Json& json) {
    std::vector<std::string> out;
    for (auto it = json.begin(); it != json.end(); ++it)
        out.push_back(it.key());
    return out;
}
}  // namespace

TEST(BridgeMessages, RequestsCarryTheirKeysInOrderWithTheFixedValues) {
    UserCertsRequest certs;
    certs.correlationId = "ID";
    Json json;
    to_json(json, certs);
    EXPECT_EQ(keys(json),
              (std::vector<std::string>{"operation", "keyusage", "mac", "correlationId", "origin"}));
    EXPECT_EQ(
        json.dump(),
        R"({"operation":"USERCERTS","keyusage":"DIGITALSIGNATURE","mac":"5E0A97C3B14D682F0E9B37A1C4D5862F",)"
        R"("correlationId":"ID","origin":"https://id.quorvane-sign.com"})");
    EXPECT_EQ(bridgeOrigin.size(), 28u);

    SignRequest sign;
    sign.cert = "Q0VSVA==";
    sign.digest = "RElHRVNU";
    sign.pin = "null";
    sign.correlationId = "ID";
    to_json(json, sign);
    EXPECT_EQ(keys(json), (std::vector<std::string>{"operation", "cert", "algo", "digest", "pin", "language",
                                                    "mac", "correlationId", "origin"}));
    EXPECT_EQ(json["operation"], "AUTH");
    EXPECT_EQ(json["algo"], "SHA-256");
    EXPECT_EQ(json["language"], "en");
    // A pinpad's PIN is the text "null", not a JSON null.
    EXPECT_TRUE(json["pin"].is_string());
    EXPECT_NE(json.dump().find(R"("pin":"null")"), std::string::npos);
}

TEST(BridgeMessages, ReadsReplies) {
    auto certs = decode<UserCertsReply>(parse(
        R"({"Readers":[{"ReaderName":"R1","ReaderType":"pinpad","cardType":"eid","certificates":[]},)"
        R"({"ReaderName":"R2","ReaderType":"standard","cardType":"eid","certificates":["QQ==","Qg=="],"x":1}],)"
        R"("result":"OK","correlationId":"C","operation":"USERCERTS","extra":true})"));
    ASSERT_EQ(certs.readers.size(), 2u);
    EXPECT_EQ(certs.readers[0].readerType, "pinpad");
    EXPECT_TRUE(certs.readers[0].certificates.empty());
    EXPECT_EQ(certs.readers[1].certificates, (std::vector<std::string>{"QQ==", "Qg=="}));

    auto sign = decode<SignReply>(parse(R"({"result":"OK","correlationId":"C","operation":"AUTH"})"));
    EXPECT_FALSE(sign.signature);
    EXPECT_FALSE(sign.message);
    sign = decode<SignReply>(
        parse(R"({"result":"OK","correlationId":"C","operation":"AUTH","signature":"AA==","message":null})"));
    EXPECT_EQ(sign.signature, "AA==");
    EXPECT_FALSE(sign.message);

    auto base = decode<BaseResponse>(
        parse(R"({"result":"general_error","resultRaw":"27010","correlationId":"C","operation":"SIGN"})"));
    EXPECT_EQ(base.operation, Operation::sign);
    EXPECT_EQ(base.resultRaw, "27010");
}

TEST(BridgeMessages, RejectsRepliesOfTheWrongShape) {
    std::vector<std::pair<const char*, std::function<void(const Json&)>>> rows = {
        {R"({"readers":[],"result":"OK","correlationId":"C","operation":"USERCERTS"})",
         [](const Json& j) { decode<UserCertsReply>(j); }},
        {R"({"Readers":[{"ReaderName":"R","ReaderType":"standard","cardType":"eid"}],"result":"OK",)"
         R"("correlationId":"C","operation":"USERCERTS"})",
         [](const Json& j) { decode<UserCertsReply>(j); }},
        {R"({"result":"OK","correlationId":"C","operation":"auth"})",
         [](const Json& j) { decode<BaseResponse>(j); }},
        {R"({"result":"OK","correlationId":"C","operation":"Auth"})",
         [](const Json& j) { decode<BaseResponse>(j); }},
        {R"({"result":"OK","operation":"AUTH"})", [](const Json& j) { decode<BaseResponse>(j); }},
        {R"({"result":1,"correlationId":"C","operation":"AUTH"})",
         [](const Json& j) { decode<BaseResponse>(j); }},
        {R"({"result":"OK","correlationId":"C","operation":"AUTH","signature":5})",
         [](const Json& j) { decode<SignReply>(j); }},
    };
    for (const auto& [text, read] : rows) {
        SCOPED_TRACE(text);
        EXPECT_THROW(read(parse(text)), platform::json::DecodingError);
    }
}

TEST(BridgeMessages, OperationNamesMatchExactly) {
    for (auto operation : {Operation::version, Operation::userCerts, Operation::sign, Operation::auth})
        EXPECT_EQ(operationFromRaw(rawValue(operation)), operation);
    EXPECT_FALSE(operationFromRaw("usercerts"));
    EXPECT_FALSE(operationFromRaw(""));
}
