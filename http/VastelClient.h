#pragma once
// The HTTP client's interface. send<T> decodes the reply to T:
//   platform::Bytes  - the body itself;
//   std::string      - the body as UTF-8 text (value absent when it is not valid UTF-8; not an error);
//   any other T      - one JSON value decoded strictly with platform::json::decode<T> (dates in wire types
//   are
//                      read with MidDateFormats::rfc3339 through requiredDate/optionalDate).
// Implementations provide the untyped operations; the typed ones are built on them.
#include <optional>
#include <string>
#include <type_traits>

#include <qcoro/qcorotask.h>

#include "http/NetworkRequest.h"
#include "http/NetworkResponse.h"
#include "http/VastelError.h"
#include "platform/Json.h"

namespace vastel {

// True when the bytes are valid UTF-8.
bool isValidUTF8(const platform::Bytes& bytes);

// Step D: the body decoded to T. Throws platform::json::DecodingError for a JSON T that does not decode.
template <class T>
std::optional<T> decodeBody(const platform::Bytes& body) {
    if constexpr (std::is_same_v<T, platform::Bytes>) {
        return body;
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!isValidUTF8(body))
            return std::nullopt;
        return platform::toString(body);
    } else {
        return platform::json::decode<T>(platform::json::parse(platform::toString(body)));
    }
}

class VastelClient {
  public:
    virtual ~VastelClient() = default;

    // The absolute URL text that send would use; nothing when the body cannot be encoded or the URL not
    // built.
    template <class T>
    std::optional<std::string> absolutePath(const NetworkRequest<T>& request) const {
        return absolutePathUntyped(request);
    }

    // Sends the request; throws VastelError. Several sends of one client may be in flight at once.
    template <class T>
    QCoro::Task<NetworkResponse<T>> send(NetworkRequest<T> request);

    // The same, with the reply left undecoded (the status check is done).
    virtual std::optional<std::string> absolutePathUntyped(const AnyNetworkRequest& request) const = 0;
    virtual QCoro::Task<NetworkResponse<platform::Bytes>> sendUntyped(AnyNetworkRequest request) = 0;
};

template <class T>
QCoro::Task<NetworkResponse<T>> VastelClient::send(NetworkRequest<T> request) {
    // The client is touched only before the first suspension.
    auto untyped = co_await sendUntyped(std::move(request));
    NetworkResponse<T> response;
    response.response = std::move(untyped.response);
    response.data = std::move(untyped.data);
    try {
        response.value = decodeBody<T>(response.data);
    } catch (...) {
        throw VastelError::decodingError(std::current_exception());
    }
    co_return response;
}

}  // namespace vastel
