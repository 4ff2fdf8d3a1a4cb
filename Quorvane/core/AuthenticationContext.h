#pragma once
// The outcome of choosing how to authenticate: the server's authentication session (as returned with the list
// of methods) and the method the user or the settings chose.
#include <string>

#include "api/Authentication.h"

struct AuthenticationContext {
    std::string sessionId;
    halcyra::AuthenticationMethod method = halcyra::AuthenticationMethod::eid;

    friend bool operator==(const AuthenticationContext&, const AuthenticationContext&) = default;
};
