#pragma once
// The one error that a Vastel client's send throws, and the errors it may carry.
#include <exception>
#include <stdexcept>
#include <string>

#include "http/URLRequest.h"
#include "platform/Bytes.h"

namespace vastel {

class VastelError : public std::exception {
  public:
    enum class Kind { networkError, decodingError, unexpectedStatusCode };

    // The request could not be built or the transport failed; `error` is the cause (APIError, TransportError,
    // an encoding error).
    static VastelError networkError(std::exception_ptr error);
    // The reply body did not decode to the expected type.
    static VastelError decodingError(std::exception_ptr error);
    // The server answered with a status outside 200 to 299.
    static VastelError unexpectedStatusCode(platform::Bytes body, URLResponse response);

    Kind kind() const { return kind_; }
    // networkError and decodingError: the cause (rethrow it to inspect it); nothing for unexpectedStatusCode.
    std::exception_ptr underlyingError() const { return underlying_; }
    // The cause's description, or "Unexpected HTTP status code N".
    const std::string& errorDescription() const { return description_; }
    // unexpectedStatusCode: the reply body and the HTTP response (status and header fields).
    const platform::Bytes& body() const { return body_; }
    const URLResponse& response() const { return response_; }

    const char* what() const noexcept override { return description_.c_str(); }

  private:
    VastelError(Kind kind, std::exception_ptr underlying);
    Kind kind_;
    std::exception_ptr underlying_;
    std::string description_;
    platform::Bytes body_;
    URLResponse response_;
};

// Library-internal: the base path, the request path or their join does not parse as a URL. Reaches callers
// only inside VastelError::networkError.
class APIError : public std::exception {
  public:
    enum class Kind { badURL };
    explicit APIError(Kind kind = Kind::badURL) : kind_(kind) {}
    Kind kind() const { return kind_; }
    const char* what() const noexcept override { return "The URL could not be built (badURL)"; }

  private:
    Kind kind_;
};

// A round trip that failed in transport: no connection, a refused TLS peer, a time-out, an oversized reply.
// `code` is the QNetworkReply::NetworkError that describes it.
class TransportError : public std::runtime_error {
  public:
    TransportError(int code, const std::string& description) : std::runtime_error(description), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

// A reply whose body was larger than the sender's limit (code ProtocolFailure).
class ReplyTooLargeError : public TransportError {
  public:
    using TransportError::TransportError;
};

}  // namespace vastel
