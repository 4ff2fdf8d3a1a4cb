#include "SigningSession.h"

using platform::json::Json;

void to_json(Json& json, const SigningSession& session) {
    json = Json::object();
    platform::json::put(json, "internalSessionId", session.internalSessionId);
    platform::json::put(json, "orchestratorSessionId", session.orchestratorSessionId);
    platform::json::put(json, "expirationTimeInterval", session.expirationTimeInterval);
    platform::json::put(json, "firstName", session.firstName);
    platform::json::put(json, "lastName", session.lastName);
    platform::json::put(json, "nationalRegisterNumber", session.nationalRegisterNumber);
}

void from_json(const Json& json, SigningSession& session) {
    using namespace platform::json;
    session.internalSessionId = required<std::string>(json, "internalSessionId");
    session.orchestratorSessionId = required<std::string>(json, "orchestratorSessionId");
    session.expirationTimeInterval = required<double>(json, "expirationTimeInterval");
    session.firstName = optional<std::string>(json, "firstName");
    session.lastName = optional<std::string>(json, "lastName");
    session.nationalRegisterNumber = optional<std::string>(json, "nationalRegisterNumber");
}
