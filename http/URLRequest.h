#pragma once
// The request and response of one round trip, as a RequestSender sees them.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QUrl>

#include "platform/Bytes.h"

namespace vastel {

// Header fields in the order they were set. Names compare without regard to letter case.
class HTTPHeaderFields {
  public:
    // Sets the field, replacing a field of the same name in any letter case (the new spelling is kept).
    void setValue(std::string value, std::string_view field);
    std::optional<std::string> value(std::string_view field) const;
    void remove(std::string_view field);
    const std::vector<std::pair<std::string, std::string>>& fields() const { return fields_; }
    bool operator==(const HTTPHeaderFields&) const = default;

  private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);

struct URLRequest {
    QUrl url;
    std::string httpMethod = "GET";
    std::optional<platform::Bytes> httpBody;
    HTTPHeaderFields allHTTPHeaderFields;
    // Longest time without any transfer progress before the round trip fails.
    std::chrono::milliseconds timeoutInterval{60000};
    // Longest time for the whole round trip, redirects included, however steadily the reply arrives; none
    // when absent.
    std::optional<std::chrono::milliseconds> resourceTimeoutInterval;

    void setValue(std::string value, std::string_view field) {
        allHTTPHeaderFields.setValue(std::move(value), field);
    }
    std::optional<std::string> value(std::string_view field) const {
        return allHTTPHeaderFields.value(field);
    }
};

// What the server answered. A response that did not come over HTTP has no status code.
struct URLResponse {
    QUrl url;
    std::optional<int> httpStatusCode;
    HTTPHeaderFields headerFields;

    bool isHTTP() const { return httpStatusCode.has_value(); }
    // The HTTP status, or 0 when this is not an HTTP response.
    int statusCode() const { return httpStatusCode.value_or(0); }
};

}  // namespace vastel
