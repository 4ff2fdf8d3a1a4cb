#pragma once
// Turns errors into the text users see:
//
//     <category digit><code>: <message>
//
//     Intel Linux <kernel major.minor.patch> - App version <short version> (<build>)
//
// An error that carries a server error and a source flow is shown in the backend category with the flow's
// digit before its code (and "-" and the HTTP status for a backend error), and with the server error's
// message.
#include <string>

#include "AppError.h"
#include "api/HalcyraError.h"
#include "outside/Logger/LoggerClient.h"

class ErrorCodeWrap {
  public:
    ErrorCodeWrap() = delete;

    // The full text; when a logger is given, the headline alone is logged once at error level.
    static std::string errorText(ErrorCodeCategory category, const std::string& code,
                                 const std::string& message, const LoggerClient* logger = nullptr);
    static std::string errorText(const AppError& error, const LoggerClient* logger = nullptr);

    // A server error's message: the server's text with its support ids, the localized network message, or the
    // error's own message.
    static std::string message(const halcyra::HalcyraError& error);

    // "Linux " and the running kernel's major.minor.patch.
    static std::string operatingSystemVersionText();
    // "App version <short> (<build>)", or "Unknown app version" when the bundle information lacks either.
    static std::string appVersionText();
};
