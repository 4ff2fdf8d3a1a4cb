#pragma once
// A reply: the decoded value, the response and the raw body.
#include <optional>

#include "http/URLRequest.h"
#include "platform/Bytes.h"

namespace vastel {

template <class T>
struct NetworkResponse {
    // Absent only when T is text and the body is not valid UTF-8.
    std::optional<T> value;
    URLResponse response;
    platform::Bytes data;

    // The HTTP status, or 0 when the response is not an HTTP response.
    int statusCode() const { return response.statusCode(); }
};

}  // namespace vastel
