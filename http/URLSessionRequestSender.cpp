#include "http/URLSessionRequestSender.h"

#include <QLocale>
#include <QNetworkCookie>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <algorithm>
#include <string_view>
#include <vector>

#include "http/VastelError.h"

namespace vastel {

namespace {

const std::string refusedChain = "The server's certificate chain holds none of the pinned certificates";

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The request of the next hop: 303, and 301/302 after a POST, continue as a GET without body.
URLRequest redirected(URLRequest request, int status, const QUrl& target) {
    request.url = target;
    const bool toGet = (status == 303 && request.httpMethod != "HEAD") ||
                       ((status == 301 || status == 302) && request.httpMethod == "POST");
    if (toGet) {
        request.httpMethod = "GET";
        request.httpBody.reset();
        request.allHTTPHeaderFields.remove("Content-Type");
        request.allHTTPHeaderFields.remove("Content-Length");
    }
    return request;
}

std::string text(const QString& string) {
    return string.toStdString();
}

// Idle connections a sender keeps open for later requests.
constexpr std::size_t maximumIdleConnections = 6;

bool isFieldText(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Fields the connection writes itself; a caller's would contradict them.
bool isFramingField(std::string_view name) {
    for (std::string_view own : {"Host", "Content-Length", "Transfer-Encoding", "Connection"})
        if (equalsIgnoringCase(name, own))
            return true;
    return false;
}

// The languages the user reads, as browsers send them: the system locale, then English, then any.
QByteArray acceptLanguage() {
    QString locale = QLocale::system().name().replace(QLatin1Char('_'), QLatin1Char('-'));
    if (locale == QLatin1String("C"))
        return "en,*";
    if (locale.startsWith(QLatin1String("en-")))
        return (locale + QLatin1String(",*")).toLatin1();
    return (locale + QLatin1String(",en,*")).toLatin1();
}

// The request's bytes on the wire. Fields holding a line break are refused: they would forge other fields.
QByteArray serialized(const URLRequest& request, const QList<QNetworkCookie>& cookies) {
    const QUrl& url = request.url;
    const bool hasBody = request.httpBody.has_value();
    const bool emptyBody = !hasBody && (request.httpMethod == "POST" || request.httpMethod == "PUT");
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = QUrl::toAce(url.host());
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1)
        host += ':' + QByteArray::number(url.port());

    QByteArray message;
    message.reserve(512 + (hasBody ? qsizetype(request.httpBody->size()) : 0));
    message +=
        QByteArray::fromStdString(request.httpMethod) + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    bool languageSet = false;
    bool agentSet = false;
    for (const auto& [name, value] : request.allHTTPHeaderFields.fields()) {
        if (!isFieldText(name) || !isFieldText(value) || name.find(':') != std::string::npos || name.empty())
            throw TransportError(QNetworkReply::ProtocolInvalidOperationError,
                                 "The header field \"" + std::string(name.substr(0, 64)) + "\" is not valid");
        if (isFramingField(name))
            continue;
        languageSet = languageSet || equalsIgnoringCase(name, "Accept-Language");
        agentSet = agentSet || equalsIgnoringCase(name, "User-Agent");
        message += QByteArray::fromStdString(name) + ": " + QByteArray::fromStdString(value) + "\r\n";
    }
    if (!languageSet)
        message += "Accept-Language: " + acceptLanguage() + "\r\n";
    if (!agentSet)
        message += "User-Agent: Mozilla/5.0\r\n";
    if (!cookies.isEmpty()) {
        message += "Cookie: ";
        for (qsizetype i = 0; i < cookies.size(); ++i)
            message += (i ? "; " : "") + cookies[i].toRawForm(QNetworkCookie::NameAndValueOnly);
        message += "\r\n";
    }
    if (hasBody || emptyBody)
        message +=
            "Content-Length: " + QByteArray::number(hasBody ? qsizetype(request.httpBody->size()) : 0) +
            "\r\n";
    message += "\r\n";
    if (hasBody)
        message.append(reinterpret_cast<const char*>(request.httpBody->data()),
                       qsizetype(request.httpBody->size()));
    return message;
}

bool isValidMethod(const std::string& method) {
    return !method.empty() && std::all_of(method.begin(), method.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_' || c == '.';
    });
}

// The proxy the system names for the URL; HTTPS goes through an HTTP proxy as a tunnel.
QNetworkProxy proxyFor(const QUrl& url) {
    const auto proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
    if (proxies.isEmpty())
        return QNetworkProxy(QNetworkProxy::NoProxy);
    QNetworkProxy proxy = proxies.front();
    if (proxy.type() == QNetworkProxy::HttpCachingProxy)
        proxy.setType(QNetworkProxy::HttpProxy);
    if (proxy.type() == QNetworkProxy::DefaultProxy)
        proxy.setType(QNetworkProxy::NoProxy);
    return proxy;
}

}  // namespace

URLSessionRequestSender::URLSessionRequestSender(APIEnvironment environment, std::int64_t maximumBodySize)
    : environment_(std::move(environment)),
      delegate_(environment_),
      maximumBodySize_(std::min(maximumBodySize, maximumReplyBodySize)) {}

URLSessionRequestSender::~URLSessionRequestSender() = default;

std::unique_ptr<HTTPConnection> URLSessionRequestSender::connectionTo(
    const QUrl& url, const QSslConfiguration& configuration) {
    const HTTPOrigin origin = HTTPOrigin::of(url);
    // Connections the server closed meanwhile go first; the most recently used open one is taken.
    std::erase_if(idle_, [](const auto& connection) { return !connection->reusable(); });
    for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
        if ((*it)->origin() == origin) {
            auto connection = std::move(*it);
            idle_.erase(std::next(it).base());
            return connection;
        }
    }
    const auto anchors = configuration.caCertificates();
    auto acceptPeer = [this, anchors, host = url.host().toStdString()](const QSslSocket& socket) {
        return delegate_.serverTrustAccepted(host, socket.peerCertificateChain(), anchors);
    };
    return std::make_unique<HTTPConnection>(origin, configuration, proxyFor(url), std::move(acceptPeer),
                                            refusedChain, maximumBodySize_);
}

void URLSessionRequestSender::keepIdle(std::unique_ptr<HTTPConnection> connection) {
    if (!connection->reusable())
        return;
    idle_.push_back(std::move(connection));
    if (idle_.size() > maximumIdleConnections)
        idle_.erase(idle_.begin());
}

QCoro::Task<RequestSenderResult> URLSessionRequestSender::data(URLRequest request) {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (request.resourceTimeoutInterval)
        deadline = std::chrono::steady_clock::now() + *request.resourceTimeoutInterval;
    for (int hop = 0;; ++hop) {
        const QUrl url = request.url;
        const QString scheme = url.scheme().toLower();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            throw TransportError(QNetworkReply::ProtocolUnknownError,
                                 "Unsupported URL: " + text(url.toString(QUrl::FullyEncoded)));
        if (url.host().isEmpty())
            throw TransportError(QNetworkReply::HostNotFoundError,
                                 "The URL has no host: " + text(url.toString(QUrl::FullyEncoded)));
        if (!isValidMethod(request.httpMethod))
            throw TransportError(QNetworkReply::ProtocolInvalidOperationError,
                                 "The method \"" + request.httpMethod.substr(0, 64) + "\" is not valid");
        const bool secure = scheme == QLatin1String("https");
        if (secure && !delegate_.challengeHostMatches(text(url.host())))
            throw TransportError(
                QNetworkReply::OperationCanceledError,
                "The connection to " + text(url.host()) + " was cancelled: not the server's host");

        const QByteArray message = serialized(request, cookies_.cookiesForUrl(url));
        const bool head = request.httpMethod == "HEAD";
        HTTPReply reply;
        // A connection kept open may have been closed by the server just before this request went out: then
        // a request that is safe to repeat goes once more, on a new connection. Any other may have been
        // carried out already (the server may have closed after handling it): it is never sent twice.
        const bool repeatable = head || request.httpMethod == "GET";
        for (bool retried = false;; retried = true) {
            auto connection = connectionTo(url, delegate_.sslConfiguration());
            try {
                reply = co_await connection->exchange(message, head, request.timeoutInterval, deadline);
            } catch (const TransportError&) {
                if (!retried && repeatable && connection->failedAsStale())
                    continue;
                throw;
            }
            keepIdle(std::move(connection));
            break;
        }

        const int status = reply.statusCode;
        HTTPHeaderFields headerFields;
        QByteArray location;
        for (auto& [name, value] : reply.headerFields) {
            if (equalsIgnoringCase(name, "Set-Cookie"))
                cookies_.setCookiesFromUrl(QNetworkCookie::parseCookies(QByteArray::fromStdString(value)),
                                           url);
            if (equalsIgnoringCase(name, "Location"))
                location = QByteArray::fromStdString(value);
            auto existing = headerFields.value(name);
            headerFields.setValue(existing ? *existing + ", " + value : value, name);
        }

        // A Location that does not parse proposes no URL: resolving it would quietly repair it into one.
        const QUrl target(QString::fromUtf8(location), QUrl::StrictMode);
        if (isRedirect(status) && target.isValid() && !target.isEmpty()) {
            const QUrl resolved = url.resolved(target);
            if (delegate_.redirectAllowed(resolved)) {
                if (hop >= maximumRedirects)
                    throw TransportError(QNetworkReply::TooManyRedirectsError,
                                         "More than " + std::to_string(maximumRedirects) + " redirects");
                request = redirected(std::move(request), status, resolved);
                continue;
            }
        }

        RequestSenderResult result;
        result.data.assign(reply.body.begin(), reply.body.end());
        result.response.url = url;
        result.response.httpStatusCode = status;
        result.response.headerFields = std::move(headerFields);
        co_return result;
    }
}

}  // namespace vastel
