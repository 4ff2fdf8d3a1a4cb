#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/VirtualScheduler.h"

namespace {

using platform::Date;
using platform::Timer;
using platform::VirtualScheduler;
using namespace std::chrono_literals;

// Milliseconds since the scheduler's start, as the actions see them.
long long elapsedMs(const VirtualScheduler& scheduler, Date start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(scheduler.now() - start).count();
}

struct TimerSpec {
    std::string label;
    std::chrono::milliseconds delay;
    bool repeating = false;
};

struct OrderCase {
    std::string name;
    std::vector<TimerSpec> timers;
    std::vector<double> advances;  // seconds
    std::vector<std::string> expected;
};

class VirtualSchedulerOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(VirtualSchedulerOrderTest, TimersFireInDueOrderAtTheirOwnTime) {
    VirtualScheduler scheduler;
    const Date start = scheduler.now();
    std::vector<std::string> fired;
    std::vector<std::shared_ptr<Timer>> handles;
    for (const auto& timer : GetParam().timers) {
        auto action = [&, label = timer.label] {
            fired.push_back(label + "@" + std::to_string(elapsedMs(scheduler, start)));
        };
        handles.push_back(timer.repeating ? scheduler.scheduleRepeating(timer.delay, action)
                                          : scheduler.scheduleOnce(timer.delay, action));
    }
    for (double seconds : GetParam().advances)
        scheduler.advance(std::chrono::duration<double>(seconds));
    EXPECT_EQ(fired, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, VirtualSchedulerOrderTest,
    ::testing::Values(
        OrderCase{"DueOrderNotCreationOrder",
                  {{"a", 300ms}, {"b", 100ms}, {"c", 200ms}},
                  {1.0},
                  {"b@100", "c@200", "a@300"}},
        OrderCase{"TiesFireInSchedulingOrder", {{"a", 100ms}, {"b", 100ms}}, {0.1}, {"a@100", "b@100"}},
        OrderCase{"RepeatingInterleavesWithOneShots",
                  {{"r", 100ms, true}, {"o", 250ms}},
                  {0.35},
                  {"r@100", "r@200", "o@250", "r@300"}},
        OrderCase{"RearmedRepeatingKeepsItsPlaceOnTies",
                  {{"r", 100ms, true}, {"o", 200ms}},
                  {0.2},
                  {"r@100", "r@200", "o@200"}},
        OrderCase{"ZeroDelayFiresOnAdvanceByZero", {{"z", 0ms}}, {0.0}, {"z@0"}},
        OrderCase{"NegativeDelayCountsAsZero", {{"n", -5ms}}, {0.0}, {"n@0"}},
        OrderCase{"StepsShorterThanTheDelayAddUp", {{"a", 250ms}}, {0.1, 0.1, 0.1}, {"a@250"}}),
    [](const auto& info) { return info.param.name; });

struct MarginCase {
    std::string name;
    double delaySeconds;
    std::vector<double> steps;
    std::vector<bool> firedAfterStep;
};

class VirtualSchedulerMarginTest : public ::testing::TestWithParam<MarginCase> {};

TEST_P(VirtualSchedulerMarginTest, FiresExactlyWhenItsTimeIsReached) {
    VirtualScheduler scheduler;
    bool fired = false;
    scheduler.scheduleOnce(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::duration<double>(GetParam().delaySeconds)),
                           [&] { fired = true; });
    ASSERT_EQ(GetParam().steps.size(), GetParam().firedAfterStep.size());
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        scheduler.advance(std::chrono::duration<double>(GetParam().steps[i]));
        EXPECT_EQ(fired, GetParam().firedAfterStep[i]) << "after step " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Margins, VirtualSchedulerMarginTest,
    ::testing::Values(MarginCase{"NineHundredJustShortThenReached", 900, {899.999, 0.001}, {false, true}},
                      MarginCase{"NineHundredAtOnce", 900, {900}, {true}},
                      MarginCase{"FiveSecondsJustShort", 5, {4.999}, {false}},
                      MarginCase{"ThirtySecondsInTenthSteps", 30, std::vector<double>(300, 0.1),
                                 [] {
                                     std::vector<bool> fired(300, false);
                                     fired.back() = true;
                                     return fired;
                                 }()},
                      MarginCase{"ThreeHundredOverrun", 300, {299, 2}, {false, true}}),
    [](const auto& info) { return info.param.name; });

TEST(VirtualScheduler, OneShotIsSpentWhenItFiresAndReleasesItsAction) {
    VirtualScheduler scheduler;
    const Date start = scheduler.now();
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    std::shared_ptr<Timer> timer;
    bool validInside = true;
    Date firedAt;
    timer = scheduler.scheduleOnce(2s, [&, token] {
        validInside = timer->isValid();
        firedAt = scheduler.now();
    });
    token.reset();
    EXPECT_TRUE(timer->isValid());
    EXPECT_EQ(scheduler.activeTimerCount(), 1u);

    scheduler.advance(5s);
    EXPECT_FALSE(validInside);
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(firedAt, start + 2s);
    EXPECT_EQ(scheduler.now(), start + 5s);
    EXPECT_EQ(scheduler.activeTimerCount(), 0u);
    EXPECT_TRUE(watch.expired());  // the handle is still held, the action is not
}

TEST(VirtualScheduler, DroppedHandleStillFires) {
    VirtualScheduler scheduler;
    int fired = 0;
    scheduler.scheduleOnce(1s, [&] { ++fired; });
    scheduler.scheduleRepeating(1s, [&] { ++fired; });
    scheduler.advance(3s);
    EXPECT_EQ(fired, 1 + 3);
}

TEST(VirtualScheduler, RepeatingTimerInvalidatedFromItsOwnAction) {
    VirtualScheduler scheduler;
    int ticks = 0;
    std::shared_ptr<Timer> timer;
    timer = scheduler.scheduleRepeating(1s, [&] {
        if (++ticks == 3)
            timer->invalidate();
    });
    scheduler.advance(10s);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer->isValid());
    timer->invalidate();  // again: harmless
    EXPECT_EQ(scheduler.activeTimerCount(), 0u);
}

TEST(VirtualScheduler, ActionInvalidatesAnotherTimerDueAtTheSameTime) {
    VirtualScheduler scheduler;
    bool secondFired = false;
    std::shared_ptr<Timer> second;
    auto first = scheduler.scheduleOnce(1s, [&] { second->invalidate(); });
    second = scheduler.scheduleOnce(1s, [&] { secondFired = true; });
    scheduler.advance(2s);
    EXPECT_FALSE(secondFired);
}

TEST(VirtualScheduler, TimerScheduledByAnActionFiresLaterInTheSameAdvance) {
    VirtualScheduler scheduler;
    const Date start = scheduler.now();
    std::vector<long long> firedAt;
    scheduler.scheduleOnce(1s, [&] {
        firedAt.push_back(elapsedMs(scheduler, start));
        scheduler.scheduleOnce(2s, [&] { firedAt.push_back(elapsedMs(scheduler, start)); });
    });
    scheduler.advance(2.5s);
    EXPECT_EQ(firedAt, (std::vector<long long>{1000}));
    scheduler.advance(0.5s);
    EXPECT_EQ(firedAt, (std::vector<long long>{1000, 3000}));
}

TEST(VirtualScheduler, PostsRunInOrderBeforeTimersAndAfterEachAction) {
    VirtualScheduler scheduler;
    std::vector<std::string> log;
    scheduler.scheduleOnce(0s, [&] {
        log.push_back("timer");
        scheduler.post([&] { log.push_back("posted by timer"); });
    });
    scheduler.post([&] {
        log.push_back("first");
        scheduler.post([&] { log.push_back("posted by first"); });
    });
    scheduler.post([&] { log.push_back("second"); });

    scheduler.runPending();
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "posted by first"}));
    scheduler.advance(0s);
    EXPECT_EQ(log,
              (std::vector<std::string>{"first", "second", "posted by first", "timer", "posted by timer"}));
}

TEST(VirtualScheduler, PostFromOtherThreadsKeepsEachThreadsOrder) {
    VirtualScheduler scheduler;
    constexpr int threadCount = 4;
    constexpr int postsPerThread = 500;
    std::vector<std::vector<int>> received(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < postsPerThread; ++i)
                scheduler.post([&, t, i] { received[t].push_back(i); });
        });
    }
    for (auto& thread : threads)
        thread.join();
    scheduler.runPending();

    for (const auto& values : received) {
        ASSERT_EQ(values.size(), std::size_t(postsPerThread));
        for (int i = 0; i < postsPerThread; ++i)
            EXPECT_EQ(values[i], i);
    }
}

TEST(VirtualScheduler, MisuseIsAnErrorNotAHang) {
    VirtualScheduler scheduler;
    EXPECT_THROW(scheduler.advance(-1s), std::invalid_argument);
    bool threw = false;
    scheduler.scheduleOnce(1s, [&] {
        try {
            scheduler.advance(1s);
        } catch (const std::logic_error&) {
            threw = true;
        }
    });
    // A repeating timer of no interval would stall advance(); it is stretched to the smallest step.
    int ticks = 0;
    scheduler.scheduleRepeating(0ms, [&] { ++ticks; });
    scheduler.advance(1s);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ticks, 1000);
}

}  // namespace
