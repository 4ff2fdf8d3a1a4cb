#pragma once
// The server's errors as its clients see them: a code, the HTTP status it comes with, and the error body in
// the four languages; and the JSON replies that carry them.
#include <httplib.h>

#include <string>

#include <nlohmann/json.hpp>

namespace sim {

using Json = nlohmann::ordered_json;

struct ApiError {
    std::string code;
    std::string detail;
};

[[noreturn]] void fail(const std::string& code, const std::string& detail = {});

// The error body of a code (an unknown code gives the body of "INTERNAL_ERROR").
Json errorBody(const std::string& code);
// The HTTP status of a code (500 for an unknown one).
int statusOf(const std::string& code);
// The code that a bare HTTP status stands for.
std::string codeForStatus(int status);

// JSON text; bytes that are not UTF-8 (a recorded request, say) become U+FFFD instead of failing.
std::string text(const Json& json);
void setJson(httplib::Response& res, int status, const Json& body);

}  // namespace sim
