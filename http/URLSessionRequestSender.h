#pragma once
// The live RequestSender: HTTP/1.1 over its own connections (kept open between requests, several at once when
// requests overlap) and its own session cookies, used on the thread that made the sender. Follows redirects
// itself, one hop at a time, by the session delegate's rule; a refused redirect's reply is the result. Pins
// are checked when a connection's handshake completes, before any request byte is sent. Reply bodies are
// bounded: by maximumReplyBodySize, or by a smaller limit of the sender's.
#include <cstdint>
#include <memory>
#include <vector>

#include <QNetworkCookieJar>

#include "http/APIEnvironment.h"
#include "http/HTTPConnection.h"
#include "http/RequestSender.h"
#include "http/SessionDelegate.h"

namespace vastel {

// Largest reply body accepted; a larger reply fails in transport.
inline constexpr std::int64_t maximumReplyBodySize = 64 * 1024 * 1024;
// Redirect hops followed for one request before it fails.
inline constexpr int maximumRedirects = 16;

class URLSessionRequestSender : public RequestSender {
  public:
    explicit URLSessionRequestSender(APIEnvironment environment,
                                     std::int64_t maximumBodySize = maximumReplyBodySize);
    ~URLSessionRequestSender() override;

    QCoro::Task<RequestSenderResult> data(URLRequest request) override;

    const APIEnvironment& environment() const { return environment_; }
    const SessionDelegate& delegate() const { return delegate_; }

  private:
    // An open idle connection to the origin, or a new one.
    std::unique_ptr<HTTPConnection> connectionTo(const QUrl& url, const QSslConfiguration& configuration);
    void keepIdle(std::unique_ptr<HTTPConnection> connection);

    APIEnvironment environment_;
    SessionDelegate delegate_;
    std::int64_t maximumBodySize_;
    QNetworkCookieJar cookies_;
    std::vector<std::unique_ptr<HTTPConnection>> idle_;
};

}  // namespace vastel
