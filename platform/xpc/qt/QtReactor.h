#pragma once
// Runs XPC connections and listeners on the Qt event loop of the thread that made this object (the app's main
// thread): their handlers are then called on that thread, next to the objects they update.
#include <QObject>
#include <atomic>
#include <map>
#include <memory>

#include "platform/xpc/Reactor.h"

class QSocketNotifier;
class QTimer;

namespace xpc {

class QtReactor : public Reactor {
  public:
    QtReactor();
    ~QtReactor() override;

    void post(std::function<void()> work) override;
    WatchID watch(int fd, unsigned events, std::function<void(unsigned ready)> handler) override;
    void updateWatch(WatchID id, unsigned events) override;
    void unwatch(WatchID id) override;
    TimerID startTimer(std::chrono::milliseconds delay, std::function<void()> action) override;
    void cancelTimer(TimerID id) override;
    bool isReactorThread() const override;

  private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
        std::function<void(unsigned)> handler;
    };
    std::atomic<bool> closing_{false};
    std::unique_ptr<QObject> context_;
    std::map<WatchID, Watch> watches_;
    std::map<TimerID, std::unique_ptr<QTimer>> timers_;
    std::uint64_t nextID_ = 1;
};

}  // namespace xpc
