#include "platform/VirtualScheduler.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <stdexcept>

namespace platform {

namespace {

// A repeating timer must move time forward, or advance() would never get past it.
constexpr Scheduler::Duration minimumInterval{1};

class VirtualTimer : public Timer {
  public:
    VirtualTimer(Date due, Scheduler::Duration interval, bool repeating, std::uint64_t order,
                 std::function<void()> action)
        : due(due), interval(interval), repeating(repeating), order(order), action(std::move(action)) {}

    void invalidate() override { valid_.store(false); }
    bool isValid() const override { return valid_.load(); }

    Date due;
    const Scheduler::Duration interval;
    const bool repeating;
    const std::uint64_t order;  // breaks ties between timers due at the same time: the older one fires first
    std::function<void()> action;

  private:
    std::atomic<bool> valid_{true};
};

// Lets go of spent timers' actions and what they capture, even while a test still holds the handles.
void release(std::vector<std::shared_ptr<VirtualTimer>>& spent) {
    for (auto& timer : spent)
        timer->action = nullptr;
    spent.clear();
}

}  // namespace

struct VirtualScheduler::State {
    mutable std::mutex mutex;
    Date now;
    std::uint64_t nextOrder = 0;
    std::vector<std::shared_ptr<VirtualTimer>> timers;  // every timer not yet known to be spent
    std::deque<std::function<void()>> posted;
    bool running = false;  // inside advance() or runPending()

    // Takes the next posted action, if any.
    std::function<void()> takePosted() {
        std::lock_guard lock(mutex);
        if (posted.empty())
            return nullptr;
        auto action = std::move(posted.front());
        posted.pop_front();
        return action;
    }

    void drainPosted() {
        while (auto action = takePosted())
            action();
    }

    // Drops spent timers (their actions and what those capture are released now) and returns the valid timer
    // that is due first, if it is due by `limit`. Called only while no action runs.
    std::shared_ptr<VirtualTimer> takeDue(Date limit, std::vector<std::shared_ptr<VirtualTimer>>& spent) {
        std::lock_guard lock(mutex);
        auto firstSpent = std::stable_partition(timers.begin(), timers.end(),
                                                [](const auto& timer) { return timer->isValid(); });
        spent.insert(spent.end(), std::make_move_iterator(firstSpent), std::make_move_iterator(timers.end()));
        timers.erase(firstSpent, timers.end());
        auto next = std::min_element(timers.begin(), timers.end(), [](const auto& a, const auto& b) {
            return a->due != b->due ? a->due < b->due : a->order < b->order;
        });
        if (next == timers.end() || (*next)->due > limit)
            return nullptr;
        now = std::max(now, (*next)->due);
        return *next;
    }

    void fire(const std::shared_ptr<VirtualTimer>& timer) {
        if (timer->repeating) {
            std::lock_guard lock(mutex);
            timer->due += timer->interval;
        } else {
            // A one-shot timer is spent as soon as it fires.
            timer->invalidate();
        }
        timer->action();
    }
};

VirtualScheduler::VirtualScheduler(Date start) : state_(std::make_shared<State>()) {
    state_->now = start;
}

VirtualScheduler::~VirtualScheduler() {
    for (auto& timer : state_->timers)
        timer->invalidate();
    release(state_->timers);
}

std::shared_ptr<Timer> VirtualScheduler::scheduleOnce(Duration delay, std::function<void()> action) {
    std::lock_guard lock(state_->mutex);
    auto timer =
        std::make_shared<VirtualTimer>(state_->now + std::max(delay, Duration::zero()), Duration::zero(),
                                       false, state_->nextOrder++, std::move(action));
    state_->timers.push_back(timer);
    return timer;
}

std::shared_ptr<Timer> VirtualScheduler::scheduleRepeating(Duration interval, std::function<void()> action) {
    std::lock_guard lock(state_->mutex);
    interval = std::max(interval, minimumInterval);
    auto timer = std::make_shared<VirtualTimer>(state_->now + interval, interval, true, state_->nextOrder++,
                                                std::move(action));
    state_->timers.push_back(timer);
    return timer;
}

void VirtualScheduler::post(std::function<void()> action) {
    std::lock_guard lock(state_->mutex);
    state_->posted.push_back(std::move(action));
}

Date VirtualScheduler::now() const {
    std::lock_guard lock(state_->mutex);
    return state_->now;
}

void VirtualScheduler::advance(std::chrono::duration<double> by) {
    if (by < by.zero())
        throw std::invalid_argument("VirtualScheduler cannot move time backwards");
    if (state_->running)
        throw std::logic_error("VirtualScheduler::advance called from inside a scheduled action");
    state_->running = true;
    struct Done {
        State& state;
        ~Done() { state.running = false; }
    } done{*state_};

    // Rounded, not truncated: 899.999 s followed by 0.001 s must reach 900 s exactly.
    const Date target = now() + std::chrono::round<Date::duration>(by);
    state_->drainPosted();
    std::vector<std::shared_ptr<VirtualTimer>> spent;
    while (auto timer = state_->takeDue(target, spent)) {
        release(spent);
        state_->fire(timer);
        state_->drainPosted();
    }
    release(spent);
    {
        std::lock_guard lock(state_->mutex);
        state_->now = target;
    }
    state_->drainPosted();
}

void VirtualScheduler::runPending() {
    if (state_->running)
        throw std::logic_error("VirtualScheduler::runPending called from inside a scheduled action");
    state_->running = true;
    struct Done {
        State& state;
        ~Done() { state.running = false; }
    } done{*state_};
    state_->drainPosted();
}

std::size_t VirtualScheduler::activeTimerCount() const {
    std::lock_guard lock(state_->mutex);
    return std::count_if(state_->timers.begin(), state_->timers.end(),
                         [](const auto& timer) { return timer->isValid(); });
}

}  // namespace platform
