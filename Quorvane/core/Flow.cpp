#include "Flow.h"

QCoro::Task<> Flow::step(QCoro::Task<> task) {
    std::exception_ptr failure;
    try {
        co_await std::move(task);
    } catch (...) {
        failure = std::current_exception();
    }
    endIfEnded();
    if (failure)
        std::rethrow_exception(failure);
}

void Flow::post(platform::Scheduler& scheduler, std::function<void()> action) {
    scheduler.post([this, action = std::move(action)] {
        if (!ended_)
            action();
    });
}

void Flow::endIfEnded() const {
    if (ended_)
        throw Ended{};
}
