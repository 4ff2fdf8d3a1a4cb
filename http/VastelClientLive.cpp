#include "http/VastelClientLive.h"

#include <QUrl>

#include "http/URLSessionRequestSender.h"

namespace vastel {

namespace {
std::optional<QUrl> parseURL(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}
}  // namespace

URLRequest makeURLRequest(const std::string& basePath, const AnyNetworkRequest& request) {
    auto body = request.body.encoded();
    if (!parseURL(basePath))
        throw APIError(APIError::Kind::badURL);
    if (!request.url)
        throw APIError(APIError::Kind::badURL);
    auto url = parseURL(basePath + request.path());
    if (!url)
        throw APIError(APIError::Kind::badURL);

    URLRequest built;
    built.url = *url;
    built.timeoutInterval = std::chrono::seconds(60);
    built.httpMethod = std::string(rawValue(request.httpMethod));
    if (body) {
        built.httpBody = std::move(body);
        if (request.headers.find("Content-Type") == request.headers.end())
            built.setValue("application/json", "Content-Type");
    }
    for (const auto& [field, value] : request.headers)
        built.setValue(value, field);
    return built;
}

VastelClientLive::VastelClientLive(APIEnvironment environment, std::shared_ptr<RequestSender> requestSender)
    : environment_(std::move(environment)), requestSender_(std::move(requestSender)) {
    if (!requestSender_)
        requestSender_ = std::make_shared<URLSessionRequestSender>(environment_);
}

std::optional<std::string> VastelClientLive::absolutePathUntyped(const AnyNetworkRequest& request) const {
    try {
        return makeURLRequest(environment_.basePath, request).url.toString(QUrl::FullyEncoded).toStdString();
    } catch (...) {
        return std::nullopt;
    }
}

QCoro::Task<NetworkResponse<platform::Bytes>> VastelClientLive::sendUntyped(AnyNetworkRequest request) {
    // Everything the call needs is copied before the first suspension: the client may go away meanwhile, and
    // the sender lives until the round trip ends.
    std::shared_ptr<RequestSender> sender = requestSender_;
    URLRequest built;
    try {
        built = makeURLRequest(environment_.basePath, request);
    } catch (...) {
        throw VastelError::networkError(std::current_exception());
    }
    RequestSenderResult result;
    try {
        result = co_await sender->data(std::move(built));
    } catch (...) {
        throw VastelError::networkError(std::current_exception());
    }
    if (result.response.isHTTP()) {
        const int status = result.response.statusCode();
        if (status < 200 || status > 299)
            throw VastelError::unexpectedStatusCode(std::move(result.data), std::move(result.response));
    }
    NetworkResponse<platform::Bytes> response;
    response.value = result.data;
    response.response = std::move(result.response);
    response.data = std::move(result.data);
    co_return response;
}

}  // namespace vastel
