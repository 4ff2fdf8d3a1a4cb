#include "http/NetworkRequest.h"

namespace vastel {

std::optional<platform::Bytes> RequestBody::encoded() const {
    if (auto* bytes = std::get_if<platform::Bytes>(&content_))
        return *bytes;
    if (auto* text = std::get_if<std::string>(&content_))
        return platform::toBytes(*text);
    if (auto* encoder = std::get_if<Encoder>(&content_))
        return platform::toBytes((*encoder)());
    return std::nullopt;
}

AnyNetworkRequest::AnyNetworkRequest(HTTPMethod httpMethod, std::string path, RequestBody body,
                                     HTTPHeaders headers)
    : httpMethod(httpMethod),
      body(std::move(body)),
      headers(std::move(headers)),
      path_(path.empty() ? std::string(1, '/') : std::move(path)) {
    QUrl parsed(QString::fromStdString(path_), QUrl::StrictMode);
    if (parsed.isValid())
        url = parsed;
}

}  // namespace vastel
