#include "cardbridge/BridgeMessages.h"

namespace pindle {

using platform::json::optional;
using platform::json::put;
using platform::json::required;

std::string_view rawValue(Operation operation) {
    switch (operation) {
        case Operation::version:
            return "VERSION";
        case Operation::userCerts:
            return "USERCERTS";
        case Operation::sign:
            return "SIGN";
        case Operation::auth:
            return "AUTH";
    }
    return {};
}

std::optional<Operation> operationFromRaw(std::string_view text) {
    for (auto operation : {Operation::version, Operation::userCerts, Operation::sign, Operation::auth})
        if (rawValue(operation) == text)
            return operation;
    return std::nullopt;
}

void to_json(Json& json, const UserCertsRequest& value) {
    json = Json::object();
    put(json, "operation", value.operation);
    put(json, "keyusage", value.keyusage);
    put(json, "mac", value.mac);
    put(json, "correlationId", value.correlationId);
    put(json, "origin", value.origin);
}

void from_json(const Json& json, UserCertsReply::Reader& value) {
    value.readerName = required<std::string>(json, "ReaderName");
    value.readerType = required<std::string>(json, "ReaderType");
    value.cardType = required<std::string>(json, "cardType");
    value.certificates = required<std::vector<std::string>>(json, "certificates");
}

void from_json(const Json& json, UserCertsReply& value) {
    value.readers = required<std::vector<UserCertsReply::Reader>>(json, "Readers");
    value.result = required<std::string>(json, "result");
    value.correlationId = required<std::string>(json, "correlationId");
    value.operation = required<std::string>(json, "operation");
}

void to_json(Json& json, const SignRequest& value) {
    json = Json::object();
    put(json, "operation", value.operation);
    put(json, "cert", value.cert);
    put(json, "algo", value.algo);
    put(json, "digest", value.digest);
    put(json, "pin", value.pin);
    put(json, "language", value.language);
    put(json, "mac", value.mac);
    put(json, "correlationId", value.correlationId);
    put(json, "origin", value.origin);
}

void to_json(Json& json, const SignReply& value) {
    json = Json::object();
    put(json, "result", value.result);
    put(json, "correlationId", value.correlationId);
    put(json, "operation", value.operation);
    put(json, "signature", value.signature);
    put(json, "message", value.message);
}

void from_json(const Json& json, SignReply& value) {
    value.result = required<std::string>(json, "result");
    value.correlationId = required<std::string>(json, "correlationId");
    value.operation = required<std::string>(json, "operation");
    value.signature = optional<std::string>(json, "signature");
    value.message = optional<std::string>(json, "message");
}

void from_json(const Json& json, BaseResponse& value) {
    value.result = required<std::string>(json, "result");
    value.resultRaw = optional<std::string>(json, "resultRaw");
    value.correlationId = required<std::string>(json, "correlationId");
    auto operation = operationFromRaw(required<std::string>(json, "operation"));
    if (!operation)
        throw platform::json::DecodingError("member \"operation\": not an operation name");
    value.operation = *operation;
}

}  // namespace pindle
