#pragma once
// What the method selection shows: a waiting message, or the server's methods (its order, disabled ones
// included) for the holder to choose from, with the authentication session they were listed in.
#include <string>
#include <vector>

#include "api/Authentication.h"

struct AuthenticationMethodSelectionViewState {
    enum class Kind { loading, selection };

    Kind kind = Kind::loading;
    std::string message;                                                  // loading
    std::string sessionId;                                                // selection
    std::vector<halcyra::AuthenticationMethodsResponse::Method> methods;  // selection

    static AuthenticationMethodSelectionViewState loading(std::string message) {
        return {Kind::loading, std::move(message), {}, {}};
    }
    static AuthenticationMethodSelectionViewState selection(
        std::string sessionId, std::vector<halcyra::AuthenticationMethodsResponse::Method> methods) {
        return {Kind::selection, {}, std::move(sessionId), std::move(methods)};
    }

    friend bool operator==(const AuthenticationMethodSelectionViewState&,
                           const AuthenticationMethodSelectionViewState&) = default;
};
