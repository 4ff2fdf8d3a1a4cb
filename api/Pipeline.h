#pragma once
// The request pipeline every operation runs through: one JSON POST, three kinds of debug line, the reply
// decoded here from the raw bytes, and every failure turned into an APIResult / HalcyraError.
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include <qcoro/qcorotask.h>

#include "api/ErrorResponse.h"
#include "api/HalcyraError.h"
#include "http/VastelClient.h"
#include "outside/Common/Common.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Json.h"

namespace halcyra {

// Adopted by the live clients: the HTTP client and the logger the pipeline uses.
class HalcyraProviding {
  public:
    virtual ~HalcyraProviding() = default;
    virtual std::shared_ptr<vastel::VastelClient> providedVastel() const = 0;
    virtual std::shared_ptr<LoggerClient> providedLogger() const = 0;
};

// A reply type whose body is not read: any 2xx answer is success, whatever it carries.
struct DiscardedBody {};

template <class Response>
class APIResult {
  public:
    enum class Kind { success, failure, networkError, decodingError };

    static APIResult success(Response value) { return APIResult(Kind::success, std::move(value)); }
    static APIResult failure(int statusCode, ErrorResponse error) {
        APIResult result(Kind::failure);
        result.statusCode_ = statusCode;
        result.error_ = std::move(error);
        return result;
    }
    static APIResult networkError(std::exception_ptr error) {
        APIResult result(Kind::networkError);
        result.networkError_ = std::move(error);
        return result;
    }
    static APIResult decodingError() { return APIResult(Kind::decodingError); }

    Kind kind() const { return kind_; }
    // success only.
    const Response& value() const& { return *value_; }
    Response&& value() && { return std::move(*value_); }
    // failure only.
    int statusCode() const { return statusCode_; }
    const std::optional<ErrorResponse>& errorResponse() const { return error_; }
    // networkError only.
    std::exception_ptr networkErrorValue() const { return networkError_; }

    // The error for a result that is not success.
    HalcyraError halcyraError() const {
        switch (kind_) {
            case Kind::failure: {
                const auto& entry = error_->textForPreferredLanguage();
                return HalcyraError::backendError(statusCode_,
                                                  error_->supportIds.value_or(std::vector<std::string>{}),
                                                  entry.text, entry.faqUrl);
            }
            case Kind::networkError:
                return HalcyraError::networkError(networkError_);
            case Kind::success:
            case Kind::decodingError:
                break;
        }
        return HalcyraError::otherError("Failed to decode API response");
    }

  private:
    explicit APIResult(Kind kind, std::optional<Response> value = std::nullopt)
        : kind_(kind), value_(std::move(value)) {}
    Kind kind_;
    std::optional<Response> value_;
    int statusCode_ = 0;
    std::optional<ErrorResponse> error_;
    std::exception_ptr networkError_;
};

namespace detail {

template <class T>
std::optional<T> decodeJSON(const platform::Bytes& bytes) {
    try {
        return platform::json::decode<T>(platform::json::parse(platform::toString(bytes)));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

template <class Response, class Body>
QCoro::Task<APIResult<Response>> fetchResult(std::shared_ptr<vastel::VastelClient> vastel,
                                             std::shared_ptr<LoggerClient> logger, std::string path,
                                             Body body) {
    if (auto json = redactedJSONString(body))
        logger->debug("Sending request to " + path + ":\n" + *json);
    vastel::NetworkRequest<platform::Bytes> request(vastel::HTTPMethod::post, path, vastel::RequestBody(body),
                                                    {});

    std::optional<vastel::NetworkResponse<platform::Bytes>> response;
    std::exception_ptr failure;
    try {
        response = co_await vastel->send(std::move(request));
    } catch (...) {
        failure = std::current_exception();
    }

    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const vastel::VastelError& e) {
            if (e.kind() == vastel::VastelError::Kind::unexpectedStatusCode) {
                auto error = decodeJSON<ErrorResponse>(e.body());
                if (!error)
                    co_return APIResult<Response>::decodingError();
                if (auto json = redactedJSONString(*error))
                    logger->debug("Request failed with error data: \n" + *json);
                co_return APIResult<Response>::failure(e.response().statusCode(), std::move(*error));
            }
        } catch (...) {
        }
        co_return APIResult<Response>::networkError(failure);
    }

    if constexpr (std::is_same_v<Response, DiscardedBody>) {
        co_return APIResult<Response>::success(DiscardedBody{});
    } else {
        auto value = decodeJSON<Response>(response->data);
        if (!value)
            co_return APIResult<Response>::decodingError();
        if (auto json = redactedJSONString(*value))
            logger->debug("Received result: \n" + *json);
        co_return APIResult<Response>::success(std::move(*value));
    }
}

template <class Response, class Body>
QCoro::Task<Response> fetch(std::shared_ptr<vastel::VastelClient> vastel,
                            std::shared_ptr<LoggerClient> logger, std::string path, Body body) {
    auto result = co_await fetchResult<Response>(std::move(vastel), std::move(logger), std::move(path),
                                                 std::move(body));
    if (result.kind() != APIResult<Response>::Kind::success)
        throw result.halcyraError();
    co_return std::move(result).value();
}

}  // namespace detail

// The request step: never fails; the outcome of one POST of `body` to `path` (the HTTP client puts the base
// path in front of it).
template <class Response, class Body>
QCoro::Task<APIResult<Response>> fetchResult(const HalcyraProviding& client, std::string path, Body body) {
    return detail::fetchResult<Response>(client.providedVastel(), client.providedLogger(), std::move(path),
                                         std::move(body));
}

// The throwing step: the decoded reply, or the HalcyraError of any other outcome.
template <class Response, class Body>
QCoro::Task<Response> fetch(const HalcyraProviding& client, std::string path, Body body) {
    return detail::fetch<Response>(client.providedVastel(), client.providedLogger(), std::move(path),
                                   std::move(body));
}

}  // namespace halcyra
