#pragma once
// Performs one round trip for a built request. Injectable: tests replace it to see the built request and to
// script replies without sockets.
#include <qcoro/qcorotask.h>

#include "http/URLRequest.h"
#include "platform/Bytes.h"

namespace vastel {

struct RequestSenderResult {
    platform::Bytes data;
    URLResponse response;
};

class RequestSender {
  public:
    virtual ~RequestSender() = default;
    // The body and the response; a failed transport throws (TransportError for the live sender).
    virtual QCoro::Task<RequestSenderResult> data(URLRequest request) = 0;
};

}  // namespace vastel
