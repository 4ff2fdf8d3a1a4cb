#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Scheduler.h"

namespace {

using platform::Scheduler;
using platform::Timer;
using namespace std::chrono_literals;

bool onMainThread() {
    return QThread::currentThread() == qApp->thread();
}

// Runs the main event loop until the condition holds or the limit passes; returns the condition.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

// Runs the main event loop for the given time.
void runFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(LiveScheduler, OneShotFiresOnceOnTheMainThreadAfterItsDelayAndIsSpent) {
    auto scheduler = Scheduler::live();
    int fired = 0;
    bool onMain = false;
    bool validInside = true;
    std::shared_ptr<Timer> timer;
    const auto scheduledAt = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point firedAt;
    timer = scheduler->scheduleOnce(30ms, [&] {
        ++fired;
        onMain = onMainThread();
        validInside = timer->isValid();
        firedAt = std::chrono::steady_clock::now();
    });
    EXPECT_TRUE(timer->isValid());

    ASSERT_TRUE(runUntil([&] { return fired > 0; }));
    runFor(60ms);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(validInside);
    EXPECT_FALSE(timer->isValid());
    EXPECT_GE(firedAt - scheduledAt, 30ms);  // never early
}

TEST(LiveScheduler, DroppedHandleStillFiresAndThenReleasesTheAction) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    bool fired = false;
    Scheduler::live()->scheduleOnce(10ms, [&fired, token] { fired = true; });
    token.reset();
    ASSERT_FALSE(watch.expired());

    ASSERT_TRUE(runUntil([&] { return fired; }));
    EXPECT_TRUE(runUntil([&] { return watch.expired(); }));
}

TEST(LiveScheduler, InvalidatedTimerNeverFiresAndReleasesTheAction) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    bool fired = false;
    auto timer = Scheduler::live()->scheduleOnce(20ms, [&fired, token] { fired = true; });
    token.reset();
    timer->invalidate();
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());

    runFor(80ms);
    EXPECT_FALSE(fired);
    EXPECT_TRUE(watch.expired());  // even though the handle is still held
}

TEST(LiveScheduler, RepeatingTimerFiresUntilInvalidatedFromItsOwnAction) {
    int ticks = 0;
    std::shared_ptr<Timer> timer;
    timer = Scheduler::live()->scheduleRepeating(5ms, [&] {
        EXPECT_TRUE(onMainThread());
        if (++ticks == 3)
            timer->invalidate();
    });
    ASSERT_TRUE(runUntil([&] { return ticks >= 3; }));
    runFor(50ms);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer->isValid());
}

TEST(LiveScheduler, TimerScheduledAndInvalidatedFromOtherThreads) {
    auto scheduler = Scheduler::live();
    std::atomic<int> fired{0};
    std::atomic<bool> firedOnMain{false};
    std::shared_ptr<Timer> once;
    std::shared_ptr<Timer> cancelled;
    std::thread([&] {
        once = scheduler->scheduleOnce(5ms, [&] {
            firedOnMain = onMainThread();
            ++fired;
        });
        cancelled = scheduler->scheduleOnce(5ms, [&] { fired += 100; });
        cancelled->invalidate();
    }).join();

    ASSERT_TRUE(runUntil([&] { return fired > 0; }));
    runFor(30ms);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(firedOnMain);
    EXPECT_FALSE(once->isValid());

    // A running repeating timer stops when another thread invalidates it.
    std::atomic<int> ticks{0};
    auto repeating = scheduler->scheduleRepeating(2ms, [&] { ++ticks; });
    ASSERT_TRUE(runUntil([&] { return ticks >= 2; }));
    std::thread([&] { repeating->invalidate(); }).join();
    runFor(10ms);  // lets the queued stop through
    const int stoppedAt = ticks;
    runFor(30ms);
    EXPECT_EQ(ticks, stoppedAt);
}

TEST(LiveScheduler, PostsFromOtherThreadsRunOnTheMainThreadInOrder) {
    auto scheduler = Scheduler::live();
    constexpr int count = 200;
    std::vector<int> received;
    bool allOnMain = true;
    std::thread producer([&] {
        for (int i = 0; i < count; ++i)
            scheduler->post([&, i] {
                allOnMain = allOnMain && onMainThread();
                received.push_back(i);
            });
    });
    producer.join();
    // Posting from the main thread queues behind them rather than running inline.
    scheduler->post([&] { received.push_back(count); });
    EXPECT_TRUE(received.empty());

    ASSERT_TRUE(runUntil([&] { return received.size() == count + 1; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i <= count; ++i)
        EXPECT_EQ(received[i], i);
}

// Timers still pending when the test program ends, with their actions: the application takes them along
// when it goes. The sanitizer build's leak check at exit is what sees one left behind.
TEST(LiveScheduler, TimersStillPendingAtExitGoWithTheApplication) {
    auto token = std::make_shared<int>(0);
    auto once = Scheduler::live()->scheduleOnce(24h, [token] {});
    auto repeating = Scheduler::live()->scheduleRepeating(24h, [token] {});
    std::thread([token] { Scheduler::live()->scheduleOnce(24h, [token] {}); }).join();
    EXPECT_TRUE(runUntil([&] { return token.use_count() == 4; }));
    EXPECT_TRUE(once->isValid());
    EXPECT_TRUE(repeating->isValid());
}

TEST(LiveScheduler, NowIsTheSystemClock) {
    const auto before = std::chrono::system_clock::now();
    const auto now = Scheduler::live()->now();
    const auto after = std::chrono::system_clock::now();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
    EXPECT_EQ(Scheduler::live(), Scheduler::live());
}

}  // namespace
