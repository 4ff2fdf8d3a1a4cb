#include "relay/token/ExchangeTurn.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/xpc/Connection.h"

namespace pellin {

namespace {

using namespace std::chrono_literals;

std::filesystem::path lockFile() {
    return xpc::serviceFolder() / ".pellin-exchange.turn";
}

}  // namespace

ExchangeTurn::ExchangeTurn() {
    try {
        fd_ = ::open(lockFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } catch (const xpc::XPCError&) {
    }
}

ExchangeTurn::~ExchangeTurn() {
    // Unlocked before the close, so that the close that wakes the waiters comes after the turn is free.
    if (held_)
        ::flock(fd_, LOCK_UN);
    if (fd_ >= 0)
        ::close(fd_);
}

ExchangeTurn::Outcome ExchangeTurn::take(std::chrono::steady_clock::time_point deadline,
                                         const Cancellation& cancellation,
                                         const std::function<void()>& waiting) {
    if (cancellation.isCancelled())
        return Outcome::cancelled;
    if (fd_ < 0)
        return Outcome::taken;
    // The holder's close wakes the waiters. The watch comes before the first try, so that a turn given up in
    // between is seen.
    int closes = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (closes >= 0 && ::inotify_add_watch(closes, lockFile().c_str(), IN_CLOSE) < 0) {
        ::close(closes);
        closes = -1;
    }
    Outcome outcome = Outcome::taken;
    bool announced = false;
    for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            break;  // the file cannot be locked: go on without a turn
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            outcome = Outcome::timedOut;
            break;
        }
        if (!announced && waiting)
            waiting();
        announced = true;
        // A holder that dies is closed by the kernel, which may report the close before the lock is gone; and
        // without a watch there is nothing to wake on. Try again after a while in either case.
        auto longest = closes >= 0 ? std::chrono::milliseconds(1s) : std::chrono::milliseconds(100ms);
        auto wait = std::min(std::chrono::ceil<std::chrono::milliseconds>(deadline - now), longest);
        pollfd fds[2] = {{cancellation.descriptor(), POLLIN, 0}, {closes, POLLIN, 0}};
        ::poll(fds, closes >= 0 ? 2 : 1, static_cast<int>(wait.count()));
        if (cancellation.isCancelled()) {
            outcome = Outcome::cancelled;
            break;
        }
        char events[4096];
        while (closes >= 0 && ::read(closes, events, sizeof events) > 0) {
        }
    }
    if (closes >= 0)
        ::close(closes);
    return outcome;
}

}  // namespace pellin
