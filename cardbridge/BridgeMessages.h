#pragma once
// The JSON messages spoken with the card-reader bridge. Requests are written with their keys in declaration
// order; replies are read strictly (required keys present with the right type, unknown keys ignored).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Json.h"

namespace pindle {

using platform::json::Json;

// The same in every request of both kinds.
inline constexpr std::string_view bridgeMac = "5E0A97C3B14D682F0E9B37A1C4D5862F";
inline constexpr std::string_view bridgeOrigin = "https://id.quorvane-sign.com";

enum class Operation { version, userCerts, sign, auth };

std::string_view rawValue(Operation operation);
// Exact match, letter case included.
std::optional<Operation> operationFromRaw(std::string_view text);

struct UserCertsRequest {
    std::string operation = "USERCERTS";
    std::string keyusage = "DIGITALSIGNATURE";
    std::string mac{bridgeMac};
    std::string correlationId;
    std::string origin{bridgeOrigin};
};
void to_json(Json& json, const UserCertsRequest& value);

struct UserCertsReply {
    struct Reader {
        std::string readerName;
        std::string readerType;
        std::string cardType;
        std::vector<std::string> certificates;
    };
    std::vector<Reader> readers;
    std::string result;
    std::string correlationId;
    std::string operation;
};
void from_json(const Json& json, UserCertsReply::Reader& value);
void from_json(const Json& json, UserCertsReply& value);

struct SignRequest {
    std::string operation = "AUTH";
    std::string cert;
    std::string algo = "SHA-256";
    std::string digest;
    std::string pin;
    std::string language = "en";
    std::string mac{bridgeMac};
    std::string correlationId;
    std::string origin{bridgeOrigin};
};
void to_json(Json& json, const SignRequest& value);

struct SignReply {
    std::string result;
    std::string correlationId;
    std::string operation;
    std::optional<std::string> signature;
    std::optional<std::string> message;
};
void to_json(Json& json, const SignReply& value);
void from_json(const Json& json, SignReply& value);

// The part every reply shares.
struct BaseResponse {
    std::string result;
    std::optional<std::string> resultRaw;
    std::string correlationId;
    Operation operation = Operation::version;
};
void from_json(const Json& json, BaseResponse& value);

}  // namespace pindle
