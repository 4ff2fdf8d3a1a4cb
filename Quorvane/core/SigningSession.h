#pragma once
// One authenticated session with the remote-signing server, as the session store keeps it. Lives only in
// memory.
#include <optional>
#include <string>

#include "platform/Date.h"
#include "platform/Json.h"

struct SigningSession {
    // The token identifier of the context it was registered for: its key in the store.
    std::string internalSessionId;
    // The server's authentication session.
    std::string orchestratorSessionId;
    // When the server session ends, in seconds since 2001-01-01 00:00:00 UTC.
    double expirationTimeInterval = 0;
    // The holder, once the account status has been read.
    std::optional<std::string> firstName;
    std::optional<std::string> lastName;
    std::optional<std::string> nationalRegisterNumber;

    platform::Date expirationDate() const {
        return platform::dateFromReferenceInterval(expirationTimeInterval);
    }

    friend bool operator==(const SigningSession&, const SigningSession&) = default;
};

// Keys equal the field names; the holder fields only when present. Decoding throws
// platform::json::DecodingError.
void to_json(platform::json::Json& json, const SigningSession& session);
void from_json(const platform::json::Json& json, SigningSession& session);
