#pragma once
// One signature exchange at a time for the user: the relay pairs a single token with the app and its messages
// carry no request id, so a request waits for the one in progress, in this process or another, instead of
// displacing it. The turn is an exclusive lock on a file in the user's private XPC folder (the folder of the
// relay's socket). Every opening of that file is a holder of its own, so threads and processes queue alike,
// and a holder that dies gives the turn up with its descriptors. Waiting polls on the calling thread.
#include <chrono>
#include <functional>

#include "relay/token/Cancellation.h"

namespace pellin {

class ExchangeTurn {
  public:
    enum class Outcome { taken, timedOut, cancelled };

    // Opens the lock file; when the folder cannot be used the turn is free (no relay is reachable there
    // either).
    ExchangeTurn();
    // Gives the turn up.
    ~ExchangeTurn();
    ExchangeTurn(const ExchangeTurn&) = delete;
    ExchangeTurn& operator=(const ExchangeTurn&) = delete;

    // Waits until the turn is ours, the deadline passes or the request is cancelled. `waiting` is called once
    // when the turn is not free at once.
    Outcome take(std::chrono::steady_clock::time_point deadline, const Cancellation& cancellation,
                 const std::function<void()>& waiting);

  private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace pellin
