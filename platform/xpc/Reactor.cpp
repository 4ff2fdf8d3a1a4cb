#include "platform/xpc/Reactor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <stdexcept>
#include <system_error>

namespace xpc {

PollReactor::PollReactor() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
}

PollReactor::~PollReactor() {
    // What the dropped work, watches and timers hold may post more as it goes (a connection's last handle
    // closes it through its reactor): from here on that is dropped at once, never queued into what is being
    // destroyed.
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        work.swap(posted_);
    }
    work.clear();
    std::map<WatchID, Watch> watches;
    watches.swap(watches_);
    watches.clear();
    std::map<TimerID, Timer> timers;
    timers.swap(timers_);
    timers.clear();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void PollReactor::wake() {
    char byte = 1;
    // A full pipe already guarantees a wake-up.
    [[maybe_unused]] auto written = ::write(wakeWrite_, &byte, 1);
}

void PollReactor::post(std::function<void()> work) {
    std::function<void()> dropped;  // destroyed outside the lock: what it holds may post again
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            dropped = std::move(work);
            return;
        }
        posted_.push_back(std::move(work));
    }
    wake();
}

void PollReactor::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake();
}

bool PollReactor::isReactorThread() const {
    auto& self = const_cast<PollReactor&>(*this);
    std::lock_guard lock(self.mutex_);
    return thread_ == std::this_thread::get_id();
}

Reactor::WatchID PollReactor::watch(int fd, unsigned events, std::function<void(unsigned)> handler) {
    WatchID id = nextID_++;
    watches_[id] = Watch{fd, events, std::move(handler)};
    return id;
}

void PollReactor::updateWatch(WatchID id, unsigned events) {
    if (auto found = watches_.find(id); found != watches_.end())
        found->second.events = events;
}

void PollReactor::unwatch(WatchID id) {
    watches_.erase(id);
}

Reactor::TimerID PollReactor::startTimer(std::chrono::milliseconds delay, std::function<void()> action) {
    TimerID id = nextID_++;
    if (delay.count() < 0)
        delay = std::chrono::milliseconds(0);
    timers_[id] = Timer{std::chrono::steady_clock::now() + delay, std::move(action)};
    return id;
}

void PollReactor::cancelTimer(TimerID id) {
    timers_.erase(id);
}

void PollReactor::runPosted() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(mutex_);
        work.swap(posted_);
    }
    for (auto& item : work)
        item();
}

void PollReactor::runDueTimers() {
    auto now = std::chrono::steady_clock::now();
    std::vector<TimerID> due;
    for (auto& [id, timer] : timers_)
        if (timer.due <= now)
            due.push_back(id);
    for (TimerID id : due) {
        auto found = timers_.find(id);
        if (found == timers_.end())
            continue;  // cancelled by an earlier timer
        auto action = std::move(found->second.action);
        timers_.erase(found);
        action();
    }
}

void PollReactor::run() {
    {
        std::lock_guard lock(mutex_);
        thread_ = std::this_thread::get_id();
    }
    std::vector<pollfd> fds;
    std::vector<WatchID> ids;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopped_)
                break;
        }
        fds.assign(1, pollfd{wakeRead_, POLLIN, 0});
        ids.assign(1, 0);
        for (auto& [id, w] : watches_) {
            short events = 0;
            if (w.events & readable)
                events |= POLLIN;
            if (w.events & writable)
                events |= POLLOUT;
            if (events == 0)
                continue;
            fds.push_back(pollfd{w.fd, events, 0});
            ids.push_back(id);
        }
        int timeout = -1;
        if (!timers_.empty()) {
            auto next = std::chrono::steady_clock::time_point::max();
            for (auto& [id, timer] : timers_)
                next = std::min(next, timer.due);
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
            timeout =
                static_cast<int>(std::max<std::int64_t>(0, std::min<std::int64_t>(wait.count(), 60000)));
        }
        int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        if (n > 0 && (fds[0].revents & POLLIN)) {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        for (std::size_t i = 1; n > 0 && i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            auto found = watches_.find(ids[i]);
            if (found == watches_.end())
                continue;  // removed by an earlier handler
            unsigned ready = 0;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))
                ready |= readable;
            if (fds[i].revents & POLLOUT)
                ready |= writable;
            auto handler = found->second.handler;  // the handler may unwatch itself
            handler(ready);
        }
        runDueTimers();
        runPosted();
    }
    // Work posted before stop() still runs (messages queued for sending go out).
    runPosted();
    std::lock_guard lock(mutex_);
    thread_ = std::thread::id();
}

ReactorThread::ReactorThread() : thread_([this] { reactor_.run(); }) {}

ReactorThread::~ReactorThread() {
    reactor_.stop();
    thread_.join();
}

void ReactorThread::runSync(const std::function<void()>& work) {
    if (reactor_.isReactorThread()) {
        work();
        return;
    }
    std::promise<void> done;
    reactor_.post([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

}  // namespace xpc
