#pragma once
// One request: method, path, optional body and header fields. T is the type the caller expects the reply to
// decode to (platform::Bytes, std::string, or a JSON wire type); it is not stored.
#include <concepts>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include <QUrl>

#include "http/HTTPMethod.h"
#include "platform/Bytes.h"
#include "platform/Json.h"

namespace vastel {

using HTTPHeaders = std::map<std::string, std::string>;

template <class U>
concept JSONEncodable =
    !std::same_as<std::decay_t<U>, platform::Bytes> && !std::same_as<std::decay_t<U>, std::string> &&
    !std::is_convertible_v<U, const char*> && !std::same_as<std::decay_t<U>, std::nullopt_t> &&
    requires(platform::json::Json & json, const std::decay_t<U>& value) {
    json = value;
};

// A request body: none, bytes sent as they are, text sent as its UTF-8 bytes, or a value encoded as JSON when
// the request is built.
class RequestBody {
  public:
    RequestBody() = default;
    RequestBody(std::nullopt_t) {}
    RequestBody(platform::Bytes bytes) : content_(std::move(bytes)) {}
    RequestBody(std::string text) : content_(std::move(text)) {}
    RequestBody(const char* text) : content_(std::string(text)) {}
    template <JSONEncodable U>
    RequestBody(U value) {
        auto shared = std::make_shared<const std::decay_t<U>>(std::move(value));
        content_ = Encoder([shared] {
            platform::json::Json json = *shared;
            return json.dump();
        });
    }

    bool isNone() const { return std::holds_alternative<std::monostate>(content_); }
    // The bytes to send, nothing without a body. Throws what the JSON encoding throws.
    std::optional<platform::Bytes> encoded() const;

  private:
    using Encoder = std::function<std::string()>;
    std::variant<std::monostate, platform::Bytes, std::string, Encoder> content_;
};

// A request without its reply type.
class AnyNetworkRequest {
  public:
    // An empty path becomes "/".
    AnyNetworkRequest(HTTPMethod httpMethod, std::string path, RequestBody body = {},
                      HTTPHeaders headers = {});

    HTTPMethod httpMethod;
    // The path parsed as a (relative) URL; nothing when it does not parse.
    std::optional<QUrl> url;
    RequestBody body;
    HTTPHeaders headers;

    // The path text as given ("/" for an empty path).
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

template <class T>
class NetworkRequest : public AnyNetworkRequest {
  public:
    using Value = T;
    using AnyNetworkRequest::AnyNetworkRequest;
};

}  // namespace vastel
