#include "http/URLSessionRequestSender.h"

#include <qcoro/qcoronetworkreply.h>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <vector>

#include "http/VastelError.h"

namespace vastel {

namespace {

// The reply of one hop: our checks' verdicts, and its cleanup on every path (also when the coroutine is
// destroyed while the reply is in flight).
struct ReplyWatch {
    QNetworkReply* reply;
    std::vector<QMetaObject::Connection> connections;
    bool trustRefused = false;
    bool tooLarge = false;

    explicit ReplyWatch(QNetworkReply* reply) : reply(reply) {}
    ReplyWatch(const ReplyWatch&) = delete;
    ReplyWatch& operator=(const ReplyWatch&) = delete;
    ~ReplyWatch() {
        for (const auto& connection : connections)
            QObject::disconnect(connection);
        if (!reply->isFinished()) {
            reply->disconnect();
            reply->abort();
        }
        reply->deleteLater();
    }
};

// Errors that QNetworkAccessManager reports for an HTTP status: the reply is still a complete response.
bool isStatusError(QNetworkReply::NetworkError error) {
    switch (error) {
        case QNetworkReply::NoError:
        case QNetworkReply::ContentAccessDenied:
        case QNetworkReply::ContentOperationNotPermittedError:
        case QNetworkReply::ContentNotFoundError:
        case QNetworkReply::AuthenticationRequiredError:
        case QNetworkReply::ProxyAuthenticationRequiredError:
        case QNetworkReply::ContentConflictError:
        case QNetworkReply::ContentGoneError:
        case QNetworkReply::UnknownContentError:
        case QNetworkReply::ProtocolInvalidOperationError:
        case QNetworkReply::InternalServerError:
        case QNetworkReply::OperationNotImplementedError:
        case QNetworkReply::ServiceUnavailableError:
        case QNetworkReply::UnknownServerError:
            return true;
        default:
            return false;
    }
}

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

QByteArray toQByteArray(const platform::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

std::string text(const QString& string) {
    return string.toStdString();
}

}  // namespace

URLSessionRequestSender::URLSessionRequestSender(APIEnvironment environment)
    : session_(std::make_unique<QNetworkAccessManager>()),
      environment_(std::move(environment)),
      delegate_(environment_) {
    // QNetworkAccessManager's own cache is off by default; redirects are handled per hop below.
    session_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

URLSessionRequestSender::~URLSessionRequestSender() = default;

QCoro::Task<RequestSenderResult> URLSessionRequestSender::data(URLRequest request) {
    for (int hop = 0;; ++hop) {
        const QUrl url = request.url;
        const QString scheme = url.scheme().toLower();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            throw TransportError(QNetworkReply::ProtocolUnknownError,
                                 "Unsupported URL: " + text(url.toString(QUrl::FullyEncoded)));
        const bool secure = scheme == QLatin1String("https");
        if (secure && !delegate_.challengeHostMatches(text(url.host())))
            throw TransportError(
                QNetworkReply::OperationCanceledError,
                "The connection to " + text(url.host()) + " was cancelled: not the server's host");

        const QSslConfiguration sslConfiguration = delegate_.sslConfiguration();
        const bool pinned = !environment_.trustedCertificatesData.empty();
        QNetworkRequest networkRequest(url);
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                    QNetworkRequest::ManualRedirectPolicy);
        networkRequest.setTransferTimeout(int(request.timeoutInterval.count()));
        if (secure)
            networkRequest.setSslConfiguration(sslConfiguration);
        // One HTTP/2 connection carries several requests, and only the first is told about its handshake:
        // pinned clients keep to one request per connection check.
        if (pinned)
            networkRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        for (const auto& [name, value] : request.allHTTPHeaderFields.fields())
            networkRequest.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));

        const QByteArray verb = QByteArray::fromStdString(request.httpMethod);
        QNetworkReply* reply;
        if (request.httpBody)
            reply = session_->sendCustomRequest(networkRequest, verb, toQByteArray(*request.httpBody));
        else if (verb == "POST" || verb == "PUT")
            reply = session_->sendCustomRequest(networkRequest, verb, QByteArray());  // Content-Length: 0
        else
            reply = session_->sendCustomRequest(networkRequest, verb);
        ReplyWatch watch(reply);

        const auto anchors = sslConfiguration.caCertificates();
        auto trustAccepted = [this, anchors](QNetworkReply* r) {
            return delegate_.serverTrustAccepted(text(r->url().host()),
                                                 r->sslConfiguration().peerCertificateChain(), anchors);
        };
        // Emitted once a connection's handshake is done and before the request is written on it.
        watch.connections.push_back(
            QObject::connect(reply, &QNetworkReply::encrypted, reply, [&watch, trustAccepted] {
                if (!trustAccepted(watch.reply)) {
                    watch.trustRefused = true;
                    watch.reply->abort();
                }
            }));
        auto bound = [&watch](qint64 received, qint64 total) {
            if (received > maximumReplyBodySize || total > maximumReplyBodySize) {
                watch.tooLarge = true;
                watch.reply->abort();
            }
        };
        watch.connections.push_back(
            QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&watch, bound] {
                auto length = watch.reply->header(QNetworkRequest::ContentLengthHeader);
                if (length.isValid())
                    bound(0, length.toLongLong());
            }));
        watch.connections.push_back(QObject::connect(reply, &QNetworkReply::downloadProgress, reply, bound));

        co_await reply;

        if (watch.trustRefused)
            throw TransportError(QNetworkReply::SslHandshakeFailedError, refusedChain);
        if (watch.tooLarge)
            throw TransportError(QNetworkReply::ProtocolFailure,
                                 "The reply body is larger than the limit of " +
                                     std::to_string(maximumReplyBodySize) + " bytes");
        const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!statusAttribute.isValid() || !isStatusError(reply->error()))
            throw TransportError(reply->error() == QNetworkReply::NoError ? QNetworkReply::UnknownNetworkError
                                                                          : reply->error(),
                                 text(reply->errorString()));
        // A connection reused from an earlier request was checked then; check what this reply came over as
        // well.
        if (secure && pinned && !trustAccepted(reply))
            throw TransportError(QNetworkReply::SslHandshakeFailedError, refusedChain);
        const int status = statusAttribute.toInt();

        // A Location that does not parse proposes no URL: resolving it would quietly repair it into one.
        const QUrl location(QString::fromUtf8(reply->rawHeader("Location")), QUrl::StrictMode);
        if (isRedirect(status) && location.isValid() && !location.isEmpty()) {
            const QUrl target = reply->url().resolved(location);
            if (delegate_.redirectAllowed(target)) {
                if (hop >= maximumRedirects)
                    throw TransportError(QNetworkReply::TooManyRedirectsError,
                                         "More than " + std::to_string(maximumRedirects) + " redirects");
                request = redirected(std::move(request), status, target);
                continue;
            }
        }

        const QByteArray body = reply->readAll();
        if (body.size() > maximumReplyBodySize)
            throw TransportError(QNetworkReply::ProtocolFailure,
                                 "The reply body is larger than the limit of " +
                                     std::to_string(maximumReplyBodySize) + " bytes");
        RequestSenderResult result;
        result.data.assign(body.begin(), body.end());
        result.response.url = reply->url();
        result.response.httpStatusCode = status;
        for (const auto& [name, value] : reply->rawHeaderPairs()) {
            auto field = name.toStdString();
            auto existing = result.response.headerFields.value(field);
            result.response.headerFields.setValue(
                existing ? *existing + ", " + value.toStdString() : value.toStdString(), field);
        }
        co_return result;
    }
}

}  // namespace vastel
