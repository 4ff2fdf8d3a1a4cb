// The live Scheduler: QTimer and the event loop of the Qt main thread.
#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <climits>

#include "platform/Scheduler.h"

namespace platform {

namespace {

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Queues the work on the main thread's event loop, behind what is already queued there. Without an
// application there is no event loop to run it, and the work is dropped.
void queueOnMainThread(std::function<void()> work) {
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

// The handle of one timer. The QTimer lives on the main thread and owns the action together with a strong
// reference to this handle, so a timer whose handle was dropped still fires. Once a timer is spent or
// invalidated its QTimer is deleted later, which releases the action and whatever it captures.
class LiveTimer : public Timer, public std::enable_shared_from_this<LiveTimer> {
  public:
    void invalidate() override {
        if (!valid_.exchange(false))
            return;
        if (isMainThread())
            dropQTimer();
        else
            queueOnMainThread([self = shared_from_this()] { self->dropQTimer(); });
    }

    bool isValid() const override { return valid_.load(); }

    // Main thread only.
    void start(Scheduler::Duration interval, bool repeating, std::function<void()> action) {
        if (!valid_.load())
            return;  // invalidated before it could start
        // The application owns it: one still pending when the application ends goes with it, and so do its
        // action and this handle.
        auto* timer = new QTimer(QCoreApplication::instance());
        // A coarse timer may fire up to 5 % early, which would cut a 900 s rule short by 45 s.
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(!repeating);
        // QTimer counts in int milliseconds.
        timer->setInterval(
            static_cast<int>(std::clamp<Scheduler::Duration::rep>(interval.count(), 0, INT_MAX)));
        QObject::connect(timer, &QTimer::timeout, timer,
                         [self = shared_from_this(), repeating, action = std::move(action)] {
                             if (!self->valid_.load())
                                 return;
                             if (!repeating)
                                 self->invalidate();  // spent before its action runs, so it may schedule anew
                             action();
                         });
        timer_ = timer;
        timer->start();
    }

  private:
    // Main thread only. deleteLater, not delete: this may run inside the timer's own action.
    void dropQTimer() {
        if (!timer_)
            return;
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
    }

    std::atomic<bool> valid_{true};
    QPointer<QTimer> timer_;  // main thread only
};

class LiveScheduler : public Scheduler {
  public:
    std::shared_ptr<Timer> scheduleOnce(Duration delay, std::function<void()> action) override {
        return schedule(delay, false, std::move(action));
    }

    std::shared_ptr<Timer> scheduleRepeating(Duration interval, std::function<void()> action) override {
        // A repeating zero interval would fire on every pass of the event loop.
        return schedule(std::max(interval, Duration(1)), true, std::move(action));
    }

    void post(std::function<void()> action) override { queueOnMainThread(std::move(action)); }

    Date now() const override { return std::chrono::system_clock::now(); }

  private:
    static std::shared_ptr<Timer> schedule(Duration interval, bool repeating, std::function<void()> action) {
        auto timer = std::make_shared<LiveTimer>();
        if (!QCoreApplication::instance()) {
            timer->invalidate();  // no event loop: it can never fire
            return timer;
        }
        // From another thread the QTimer is made on the main thread, and its delay counts from there.
        if (isMainThread())
            timer->start(interval, repeating, std::move(action));
        else
            queueOnMainThread([timer, interval, repeating, action = std::move(action)] {
                timer->start(interval, repeating, action);
            });
        return timer;
    }
};

}  // namespace

std::shared_ptr<Scheduler> Scheduler::live() {
    static const std::shared_ptr<Scheduler> instance = std::make_shared<LiveScheduler>();
    return instance;
}

}  // namespace platform
