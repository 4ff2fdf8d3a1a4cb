#pragma once
// The event loop that XPC connections and listeners run on: descriptor watches, one-shot timers and posted
// work, all on one thread (the XPC "queue"). Handlers of connections and listeners are called on that thread.
// PollReactor is the plain implementation (run it on a thread of your own, or use ReactorThread); Qt programs
// use the QSocketNotifier-based reactor of platform/xpc/qt.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace xpc {

class Reactor {
  public:
    using WatchID = std::uint64_t;
    using TimerID = std::uint64_t;
    enum Events : unsigned { readable = 1, writable = 2 };

    virtual ~Reactor() = default;

    // Runs the work on the reactor's thread, after what is already queued. Callable from any thread. Work
    // still queued when the reactor is destroyed is dropped, and so is work posted while it is being
    // destroyed.
    virtual void post(std::function<void()> work) = 0;

    // The calls below are made on the reactor's thread only.
    // Calls the handler with the events that are ready (readable also stands for hang-up and errors).
    virtual WatchID watch(int fd, unsigned events, std::function<void(unsigned ready)> handler) = 0;
    virtual void updateWatch(WatchID id, unsigned events) = 0;
    virtual void unwatch(WatchID id) = 0;
    virtual TimerID startTimer(std::chrono::milliseconds delay, std::function<void()> action) = 0;
    virtual void cancelTimer(TimerID id) = 0;

    virtual bool isReactorThread() const = 0;
};

class PollReactor : public Reactor {
  public:
    PollReactor();
    ~PollReactor() override;
    PollReactor(const PollReactor&) = delete;
    PollReactor& operator=(const PollReactor&) = delete;

    // Runs on the calling thread until stop().
    void run();
    // Makes run() return after the work it is doing. Callable from any thread.
    void stop();

    void post(std::function<void()> work) override;
    WatchID watch(int fd, unsigned events, std::function<void(unsigned ready)> handler) override;
    void updateWatch(WatchID id, unsigned events) override;
    void unwatch(WatchID id) override;
    TimerID startTimer(std::chrono::milliseconds delay, std::function<void()> action) override;
    void cancelTimer(TimerID id) override;
    bool isReactorThread() const override;

  private:
    struct Watch {
        int fd;
        unsigned events;
        std::function<void(unsigned)> handler;
    };
    struct Timer {
        std::chrono::steady_clock::time_point due;
        std::function<void()> action;
    };
    void wake();
    void runPosted();
    void runDueTimers();

    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::mutex mutex_;  // guards posted_, stopped_, closed_, thread_
    std::deque<std::function<void()>> posted_;
    bool stopped_ = false;
    bool closed_ = false;  // being destroyed: work posted now is dropped
    std::thread::id thread_;
    std::map<WatchID, Watch> watches_;
    std::map<TimerID, Timer> timers_;
    std::uint64_t nextID_ = 1;
};

// A PollReactor running on a thread of its own for the lifetime of this object. The destructor stops the loop
// and joins the thread; work still queued is dropped.
class ReactorThread {
  public:
    ReactorThread();
    ~ReactorThread();
    ReactorThread(const ReactorThread&) = delete;
    ReactorThread& operator=(const ReactorThread&) = delete;

    PollReactor& reactor() { return reactor_; }
    // Runs the work on the reactor thread and waits until it has run.
    void runSync(const std::function<void()>& work);

  private:
    PollReactor reactor_;
    std::thread thread_;
};

}  // namespace xpc
