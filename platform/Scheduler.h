#pragma once
// Timers, posting to the main thread, and the clock. The app's rules on 2 s, 30 s, 300 s and 900 s run on an
// injected Scheduler, so tests drive them in virtual time with VirtualScheduler.
#include <chrono>
#include <functional>
#include <memory>

#include "Date.h"

namespace platform {

class Timer {
  public:
    virtual ~Timer() = default;
    // Stops the timer; its action will not run (again). Safe to call more than once and from its own action.
    virtual void invalidate() = 0;
    // True until the timer was invalidated or, for a one-shot timer, has fired (already false inside its
    // action, so the action may schedule a successor).
    virtual bool isValid() const = 0;
};

class Scheduler {
  public:
    using Duration = std::chrono::milliseconds;
    virtual ~Scheduler() = default;

    // Runs the action once after the delay, on the main thread. Dropping the returned handle does not stop
    // it.
    virtual std::shared_ptr<Timer> scheduleOnce(Duration delay, std::function<void()> action) = 0;
    // Runs the action every interval, on the main thread, until invalidated.
    virtual std::shared_ptr<Timer> scheduleRepeating(Duration interval, std::function<void()> action) = 0;
    // Runs the action on the main thread's event loop, after what is already queued. Callable from any
    // thread.
    virtual void post(std::function<void()> action) = 0;
    virtual Date now() const = 0;

    // The process-wide live scheduler (QTimer and the Qt main thread).
    static std::shared_ptr<Scheduler> live();
};

}  // namespace platform
