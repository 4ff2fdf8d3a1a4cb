#pragma once
// Lets another thread end a signing request that is waiting: cancel() wakes whatever the request waits on
// (its turn, or its loop with the relay), and every later wait of the request ends at once. It is a
// descriptor that becomes readable, so a request can poll it beside its sockets without a thread of its own.
#include <atomic>

namespace pellin {

class Cancellation {
  public:
    // Throws std::system_error when the process has no descriptor left.
    Cancellation();
    ~Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    // Callable from any thread, any number of times.
    void cancel();
    bool isCancelled() const { return cancelled_; }
    // Readable once cancelled.
    int descriptor() const { return fd_; }

  private:
    int fd_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace pellin
