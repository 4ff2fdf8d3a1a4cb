#pragma once
// Faults of an endpoint, set at start or by a control call: a status, a delay, a malformed or other body, a
// dropped connection; for a number of requests or until cleared.
#include <httplib.h>

#include <optional>
#include <string>

#include "ApiError.h"

namespace sim {

struct Fault {
    enum class Body { unchanged, error, malformed, empty, raw };
    std::optional<int> status;
    int delayMs = 0;
    Body body = Body::unchanged;
    std::string rawBody;
    bool drop = false;
    int count = 0;  // requests it applies to; 0 = until cleared
    bool passThrough =
        false;  // the endpoint runs first (its effects stay), then status and body are replaced

    // True when it sets the reply's status or body.
    bool replacesReply() const { return status || body != Body::unchanged; }
    // Sets the reply's status and body as the fault says (over the endpoint's reply when it passes through).
    void replaceReply(httplib::Response& res) const;
    // Headers go out, then the connection closes before the announced body: the client sees a broken reply.
    static void dropReply(httplib::Response& res);
};

// "status=500,delay=200,body=malformed|empty|error,raw=<text>,drop,count=1,pass". Nothing when malformed.
std::optional<Fault> parseFault(const std::string& text);
std::optional<Fault> faultFromJson(const Json& object);

}  // namespace sim
