#include "platform/xpc/qt/QtReactor.h"

#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

namespace xpc {

QtReactor::QtReactor() : context_(std::make_unique<QObject>()) {}

QtReactor::~QtReactor() {
    // What the dropped work, watches and timers hold may post more as it goes (a connection's last handle
    // closes it through its reactor): from here on that is dropped at once. Queued for the context object, it
    // would outlive it and be delivered to a deleted object.
    closing_ = true;
    std::map<WatchID, Watch> watches;
    watches.swap(watches_);
    watches.clear();
    std::map<TimerID, std::unique_ptr<QTimer>> timers;
    timers.swap(timers_);
    timers.clear();
    context_.reset();  // drops the work still queued
}

void QtReactor::post(std::function<void()> work) {
    if (closing_)
        return;
    QMetaObject::invokeMethod(
        context_.get(), [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

Reactor::WatchID QtReactor::watch(int fd, unsigned events, std::function<void(unsigned)> handler) {
    WatchID id = nextID_++;
    Watch& w = watches_[id];
    w.handler = std::move(handler);
    w.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    w.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    auto fire = [this, id](unsigned ready) {
        auto found = watches_.find(id);
        if (found == watches_.end())
            return;
        auto handler = found->second.handler;  // the handler may unwatch itself
        handler(ready);
    };
    QObject::connect(w.read.get(), &QSocketNotifier::activated, context_.get(), [fire] { fire(readable); });
    QObject::connect(w.write.get(), &QSocketNotifier::activated, context_.get(), [fire] { fire(writable); });
    updateWatch(id, events);
    return id;
}

void QtReactor::updateWatch(WatchID id, unsigned events) {
    auto found = watches_.find(id);
    if (found == watches_.end())
        return;
    found->second.read->setEnabled(events & readable);
    found->second.write->setEnabled(events & writable);
}

void QtReactor::unwatch(WatchID id) {
    auto found = watches_.find(id);
    if (found == watches_.end())
        return;
    // The notifier may be the sender of the signal being handled: delete it later.
    found->second.read->setEnabled(false);
    found->second.write->setEnabled(false);
    found->second.read.release()->deleteLater();
    found->second.write.release()->deleteLater();
    watches_.erase(found);
}

Reactor::TimerID QtReactor::startTimer(std::chrono::milliseconds delay, std::function<void()> action) {
    TimerID id = nextID_++;
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QObject::connect(timer.get(), &QTimer::timeout, context_.get(), [this, id, action = std::move(action)] {
        auto found = timers_.find(id);
        if (found == timers_.end())
            return;
        found->second.release()->deleteLater();
        timers_.erase(found);
        action();
    });
    timer->start(std::max<std::chrono::milliseconds>(delay, std::chrono::milliseconds(0)));
    timers_[id] = std::move(timer);
    return id;
}

void QtReactor::cancelTimer(TimerID id) {
    auto found = timers_.find(id);
    if (found == timers_.end())
        return;
    found->second->stop();
    found->second.release()->deleteLater();
    timers_.erase(found);
}

bool QtReactor::isReactorThread() const {
    return QThread::currentThread() == context_->thread();
}

}  // namespace xpc
