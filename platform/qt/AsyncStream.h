#pragma once
// An unbounded stream of values between a producer and one consumer coroutine on the main thread.
// yield() never blocks and may be called from any thread; values after finish() are dropped. The consumer's
// `co_await stream.next()` resumes on the main thread with the next value, or with nothing once the stream is
// finished and drained. Copies of the stream and of its continuation share one state. Once every copy of the
// continuation is gone nothing can feed the stream any more, and it finishes: a consumer never waits for ever
// on a stream without a producer (its coroutine frame would never be resumed, nor destroyed).
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include <QCoreApplication>
#include <QCoroTask>
#include <QMetaObject>
#include <coroutine>
#include <utility>

namespace platform {

template <class T>
class AsyncStream {
    struct State {
        std::mutex mutex;
        std::deque<T> buffer;
        bool finished = false;
        std::coroutine_handle<> waiter;
    };

    // Resumes the waiting consumer through the main event loop, never inline: a producer on the main thread
    // must not run the consumer in the middle of its own work.
    static void wake(std::coroutine_handle<> waiter) {
        auto* application = QCoreApplication::instance();
        if (!waiter || !application)
            return;
        QMetaObject::invokeMethod(
            application, [waiter] { waiter.resume(); }, Qt::QueuedConnection);
    }

    static void finish(State& state) {
        std::coroutine_handle<> waiter;
        {
            std::lock_guard lock(state.mutex);
            if (state.finished)
                return;
            state.finished = true;
            waiter = std::exchange(state.waiter, nullptr);
        }
        wake(waiter);
    }

    // Shared by every copy of a continuation; the last one to go finishes the stream.
    struct Producer {
        explicit Producer(std::shared_ptr<State> state) : state(std::move(state)) {}
        ~Producer() { finish(*state); }
        Producer(const Producer&) = delete;
        Producer& operator=(const Producer&) = delete;
        std::shared_ptr<State> state;
    };

    // Holds a plain pointer (next() keeps the state alive) and has a constructor: GCC 12 destroys an
    // aggregate awaiter temporary of a co_await twice, which would release a shared_ptr member one time too
    // many.
    struct Awaiter {
        explicit Awaiter(State* state) : state(state) {}
        State* state;
        bool await_ready() {
            std::lock_guard lock(state->mutex);
            return !state->buffer.empty() || state->finished;
        }
        bool await_suspend(std::coroutine_handle<> handle) {
            std::lock_guard lock(state->mutex);
            if (!state->buffer.empty() || state->finished)
                return false;
            state->waiter = handle;
            return true;
        }
        void await_resume() {}
    };

  public:
    class Continuation {
      public:
        void yield(T value) const {
            State& state = *producer_->state;
            std::coroutine_handle<> waiter;
            {
                std::lock_guard lock(state.mutex);
                if (state.finished)
                    return;
                state.buffer.push_back(std::move(value));
                waiter = std::exchange(state.waiter, nullptr);
            }
            wake(waiter);
        }
        void finish() const { AsyncStream::finish(*producer_->state); }
        bool isFinished() const {
            std::lock_guard lock(producer_->state->mutex);
            return producer_->state->finished;
        }

      private:
        friend class AsyncStream;
        explicit Continuation(std::shared_ptr<State> state)
            : producer_(std::make_shared<Producer>(std::move(state))) {}
        std::shared_ptr<Producer> producer_;
    };

    // A new stream and the continuation that feeds it.
    static std::pair<AsyncStream, Continuation> make() {
        auto state = std::make_shared<State>();
        return {AsyncStream(state), Continuation(state)};
    }

    // The next value, or nothing once the stream is finished and every value was taken. One consumer at a
    // time.
    QCoro::Task<std::optional<T>> next() {
        auto state = state_;  // the coroutine frame keeps the state alive
        co_await Awaiter(state.get());
        std::lock_guard lock(state->mutex);
        if (state->buffer.empty())
            co_return std::nullopt;
        T value = std::move(state->buffer.front());
        state->buffer.pop_front();
        co_return value;
    }

  private:
    explicit AsyncStream(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

}  // namespace platform
