#include "BulkSigningCallback.h"

#include <QUrl>

namespace bulksigning {

bool isAcceptedCallback(const std::string& callback) {
    // A file, another program's scheme or our own would let the request open local files or programs, or
    // make the app call itself.
    const QUrl url(QString::fromStdString(callback), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http" || scheme == "https") && !url.host().isEmpty();
}

std::string callbackWithQueryItem(const std::string& callback, const std::string& name,
                                  const std::string& value) {
    return callbackWithQueryItem(callback, name, std::vector{value});
}

std::string callbackWithQueryItem(const std::string& callback, const std::string& name,
                                  const std::vector<std::string>& values) {
    const auto fragmentStart = callback.find('#');
    std::string url = callback.substr(0, fragmentStart);
    // A "?" inside the query is part of an item ("?q=why?"): only an empty query needs no separator.
    const auto queryStart = url.find('?');
    if (queryStart == std::string::npos)
        url += '?';
    else if (queryStart + 1 != url.size() && !url.ends_with('&'))
        url += '&';
    url += name;
    url += '=';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            url += ',';
        url += QUrl::toPercentEncoding(QString::fromStdString(values[i])).toStdString();
    }
    if (fragmentStart != std::string::npos)
        url += callback.substr(fragmentStart);
    return url;
}

}  // namespace bulksigning
