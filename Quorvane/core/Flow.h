#pragma once
// The life of one flow (a navigation, a signing request, a certificate retrieval): it runs until it ends,
// once, and nothing of it acts afterwards. Its coroutines await every step through step(): when the flow has
// ended meanwhile, the step ends the awaiting coroutine there instead of handing it a reply that came too
// late, and with it each coroutine of the flow that awaits that one. Its tasks that start in a turn of the
// event loop of their own start through post(), which drops them once the flow has ended.
//
// The end travels as Flow::Ended, which derives from no standard exception: the flow's handlers of failures
// (HalcyraError, std::exception) let it pass, and the task that ran the flow keeps it unread. Main thread
// only; the coroutines that await a step hold the flow's owner.
#include <QCoroTask>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

#include "platform/Scheduler.h"

class Flow {
  public:
    struct Ended {};

    bool hasEnded() const { return ended_; }
    // Ends the flow; true the first time.
    bool end() { return !std::exchange(ended_, true); }

    // The step's value, or its failure, while the flow runs.
    template <class T>
    QCoro::Task<T> step(QCoro::Task<T> task) {
        std::optional<T> value;
        std::exception_ptr failure;
        try {
            value.emplace(co_await std::move(task));
        } catch (...) {
            failure = std::current_exception();
        }
        endIfEnded();
        if (failure)
            std::rethrow_exception(failure);
        co_return std::move(*value);
    }
    QCoro::Task<> step(QCoro::Task<> task);

    // Runs the action in a turn of its own unless the flow has ended by then. The action keeps the flow's
    // owner.
    void post(platform::Scheduler& scheduler, std::function<void()> action);

  private:
    void endIfEnded() const;

    bool ended_ = false;
};
