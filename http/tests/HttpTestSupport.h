#pragma once
// A scripted request sender and helpers to look into the client's errors.
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <optional>
#include <vector>

#include "http/RequestSender.h"
#include "http/VastelError.h"
#include "platform/testing/Await.h"

namespace httptest {

using testsupport::run;

// The cause carried by a networkError or decodingError, as type E; nothing when it is of another type.
template <class E>
std::optional<E> underlying(const vastel::VastelError& error) {
    try {
        if (error.underlyingError())
            std::rethrow_exception(error.underlyingError());
    } catch (const E& e) {
        return e;
    } catch (...) {
    }
    return std::nullopt;
}

// A request sender that records the built requests and answers what the test scripts.
class FakeRequestSender : public vastel::RequestSender {
  public:
    std::vector<vastel::URLRequest> requests;
    std::function<vastel::RequestSenderResult(const vastel::URLRequest&)> answer =
        [](const vastel::URLRequest& r) { return reply(200, "", r.url); };

    QCoro::Task<vastel::RequestSenderResult> data(vastel::URLRequest request) override {
        requests.push_back(request);
        co_return answer(request);
    }

    static vastel::RequestSenderResult reply(int status, const std::string& body, const QUrl& url = {}) {
        vastel::RequestSenderResult result;
        result.data = platform::toBytes(body);
        result.response.url = url;
        result.response.httpStatusCode = status;
        return result;
    }
};

}  // namespace httptest
