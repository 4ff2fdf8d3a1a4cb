#include "http/HTTPMethod.h"

namespace vastel {

std::string_view rawValue(HTTPMethod method) {
    switch (method) {
        case HTTPMethod::delete_:
            return "DELETE";
        case HTTPMethod::get:
            return "GET";
        case HTTPMethod::post:
            return "POST";
        case HTTPMethod::put:
            return "PUT";
    }
    return "GET";
}

std::optional<HTTPMethod> httpMethodFromRawValue(std::string_view text) {
    for (auto method : {HTTPMethod::delete_, HTTPMethod::get, HTTPMethod::post, HTTPMethod::put})
        if (rawValue(method) == text)
            return method;
    return std::nullopt;
}

}  // namespace vastel
