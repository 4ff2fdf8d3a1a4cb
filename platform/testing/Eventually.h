#pragma once
// Waiting in tests for something that happens elsewhere: on another thread, in a child process, or in work
// that the event loop has yet to run. Free of Qt headers: their keyword macros clash with plain code.
#include <chrono>
#include <thread>

namespace testsupport {

// Runs this thread's pending events for a moment; a thread without an event loop has none.
void runPendingEvents();

// Polls until the condition holds or the limit passes, running pending events in between.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        runPendingEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace testsupport
