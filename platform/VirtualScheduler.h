#pragma once
// A Scheduler whose time moves only when a test advances it. Timers fire in due order, each at its own time;
// posted actions run on advance() or runPending(). Single-threaded apart from post().
#include <mutex>
#include <vector>

#include "Scheduler.h"

namespace platform {

class VirtualScheduler : public Scheduler {
  public:
    explicit VirtualScheduler(Date start = Date(std::chrono::seconds(1'800'000'000)));
    ~VirtualScheduler() override;

    std::shared_ptr<Timer> scheduleOnce(Duration delay, std::function<void()> action) override;
    std::shared_ptr<Timer> scheduleRepeating(Duration interval, std::function<void()> action) override;
    void post(std::function<void()> action) override;
    Date now() const override;

    // Moves the clock forward by the duration, running posted actions and every timer that comes due on the
    // way.
    void advance(std::chrono::duration<double> by);
    // Runs posted actions (and the ones they post) without moving the clock.
    void runPending();
    // Number of timers still valid.
    std::size_t activeTimerCount() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
