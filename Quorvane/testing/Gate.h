#pragma once
// Holds the calls that pass it while it is closed, until the test opens it.
#include <QCoroTask>
#include <utility>
#include <vector>

#include "platform/qt/AsyncStream.h"

namespace testsupport {

class Gate {
  public:
    QCoro::Task<> pass() {
        if (!closed)
            co_return;
        auto [stream, continuation] = platform::AsyncStream<int>::make();
        waiting_.push_back(continuation);
        co_await stream.next();
    }
    // Lets every waiting call go on, and the next ones pass.
    void open() {
        closed = false;
        // Each call goes on once its stream is finished; the waiting call keeps a continuation of its own, so
        // dropping ours would not finish it.
        for (auto& waiting : std::exchange(waiting_, {}))
            waiting.finish();
    }
    bool isWaiting() const { return !waiting_.empty(); }

    bool closed = false;

  private:
    std::vector<platform::AsyncStream<int>::Continuation> waiting_;
};

}  // namespace testsupport
