#pragma once
// Running the client's coroutines to completion in tests, with their outcome or error.
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <optional>
#include <vector>

#include "http/RequestSender.h"
#include "http/VastelError.h"

namespace httptest {

template <class T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;

    // The VastelError thrown; fails the test when something else happened.
    std::optional<vastel::VastelError> vastelError() const {
        if (!error) {
            ADD_FAILURE() << "expected a VastelError, the call succeeded";
            return std::nullopt;
        }
        try {
            std::rethrow_exception(error);
        } catch (const vastel::VastelError& e) {
            return e;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "expected a VastelError, got " << e.what();
        } catch (...) {
            ADD_FAILURE() << "expected a VastelError";
        }
        return std::nullopt;
    }
};

template <class T>
QCoro::Task<Outcome<T>> capture(QCoro::Task<T> task) {
    Outcome<T> outcome;
    try {
        outcome.value = co_await std::move(task);
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}

// Runs the task to its end in a nested event loop.
template <class T>
Outcome<T> run(QCoro::Task<T>&& task) {
    return QCoro::waitFor(capture(std::move(task)));
}

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
