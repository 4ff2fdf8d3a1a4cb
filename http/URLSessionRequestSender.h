#pragma once
// The live RequestSender: one QNetworkAccessManager per sender (its own connections), used on the thread that
// made the sender. Follows redirects itself, one hop at a time, by the session delegate's rule; a refused
// redirect's reply is the result. Pins are checked when a connection's handshake completes, before any
// request byte is sent, and again on each reply. Reply bodies are bounded.
#include <cstdint>
#include <memory>

#include <QPointer>

#include "http/APIEnvironment.h"
#include "http/RequestSender.h"
#include "http/SessionDelegate.h"

class QNetworkAccessManager;

namespace vastel {

// Largest reply body accepted; a larger reply fails in transport.
inline constexpr std::int64_t maximumReplyBodySize = 64 * 1024 * 1024;
// Redirect hops followed for one request before it fails.
inline constexpr int maximumRedirects = 16;

class URLSessionRequestSender : public RequestSender {
  public:
    explicit URLSessionRequestSender(APIEnvironment environment);
    ~URLSessionRequestSender() override;

    QCoro::Task<RequestSenderResult> data(URLRequest request) override;

    const APIEnvironment& environment() const { return environment_; }
    const SessionDelegate& delegate() const { return delegate_; }

  private:
    std::unique_ptr<QNetworkAccessManager> session_;
    APIEnvironment environment_;
    SessionDelegate delegate_;
};

}  // namespace vastel
