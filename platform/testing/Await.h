#pragma once
// Running coroutines to their end in tests, keeping their value or their error. QCoro::waitFor alone never
// returns when the task throws.
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>

namespace testsupport {

struct Done {};

template <class T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;

    // The error thrown, as type E; fails the test when the call succeeded or threw something else.
    template <class E>
    std::optional<E> errorAs() const {
        if (!error) {
            ADD_FAILURE() << "expected a " << typeid(E).name() << ", the call succeeded";
            return std::nullopt;
        }
        try {
            std::rethrow_exception(error);
        } catch (const E& e) {
            return e;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "expected a " << typeid(E).name() << ", got " << e.what();
        } catch (...) {
            ADD_FAILURE() << "expected a " << typeid(E).name();
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

inline QCoro::Task<Outcome<Done>> capture(QCoro::Task<void> task) {
    Outcome<Done> outcome;
    try {
        co_await std::move(task);
        outcome.value = Done{};
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}

// Runs the task to its end in a nested event loop.
template <class T>
auto run(QCoro::Task<T>&& task) {
    return QCoro::waitFor(capture(std::move(task)));
}

// Runs the task to its end in a nested event loop and gives its value, or throws its error again.
template <class T>
T await(QCoro::Task<T>&& task) {
    auto outcome = run(std::move(task));
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome.value);
}

}  // namespace testsupport
