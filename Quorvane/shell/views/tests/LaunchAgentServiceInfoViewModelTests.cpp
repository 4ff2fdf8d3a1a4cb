// The launch-agent page's model: its status watch in virtual time (once a second, one continuation, the app
// brought forward), the page let go from inside its own calls, and the watch on the live event loop against
// the real registry.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QEventLoop>

#include "Quorvane/shell/views/LaunchAgentServiceInfoViewModel.h"
#include "Quorvane/testing/FakeLaunchAgentService.h"
#include "Quorvane/testing/FakeWindow.h"
#include "Quorvane/testing/LaunchAgentRegistry.h"
#include "platform/VirtualScheduler.h"

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

namespace {

using testsupport::CallLog;
using testsupport::FakeLaunchAgentService;

struct PageRig {
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<FakeLaunchAgentService> service = std::make_shared<FakeLaunchAgentService>();
    // What happens to the window and the application, in order, with the continuation among them.
    std::shared_ptr<CallLog> events = std::make_shared<CallLog>();
    MainWindowController controller;
    std::shared_ptr<LaunchAgentServiceInfoViewModel> model;
    int continuations = 0;
    int notifications = 0;
    Observable::Subscription subscription;

    explicit PageRig(bool withWindow = true) {
        if (withWindow) {
            controller.window = std::make_shared<testsupport::FakeWindow>(events);
            controller.application = std::make_shared<testsupport::FakeApplication>(events);
        }
    }
    void makeModel() {
        model = std::make_shared<LaunchAgentServiceInfoViewModel>(
            [this] {
                ++continuations;
                events->add("continue");
            },
            service, scheduler, controller);
        subscription = model->subscribe([this] { ++notifications; });
    }
};

}  // namespace

TEST(LaunchAgentPageTest, ContinuesOnceWithinASecondOfEnablingAndStopsWatching) {
    PageRig rig;
    rig.makeModel();
    EXPECT_FALSE(rig.model->isLaunchAgentEnabled());
    ASSERT_TRUE(rig.model->monitoringTimer());

    rig.scheduler->advance(3s);
    EXPECT_EQ(rig.service->statusReads, 3);
    EXPECT_EQ(rig.continuations, 0);
    EXPECT_EQ(rig.notifications, 0);  // unchanged status tells nobody

    rig.scheduler->advance(500ms);
    rig.service->enabled = true;
    rig.scheduler->advance(500ms);
    EXPECT_TRUE(rig.model->isLaunchAgentEnabled());
    EXPECT_EQ(rig.events->list,
              (Lines{"window to front", "policy regular", "activate ignoring others", "continue"}));
    EXPECT_EQ(rig.notifications, 2);  // the status, then the stopped watch
    EXPECT_FALSE(rig.model->monitoringTimer());
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);

    // Switching the agent off and on again while the page lives continues no second time.
    rig.service->enabled = false;
    rig.scheduler->advance(2s);
    rig.service->enabled = true;
    rig.scheduler->advance(2s);
    EXPECT_EQ(rig.continuations, 1);
    EXPECT_EQ(rig.service->statusReads, 4);
}

TEST(LaunchAgentPageTest, FirstCheckIsOneSecondAfterMaking) {
    PageRig rig;
    rig.service->enabled = true;
    rig.makeModel();
    rig.scheduler->advance(999ms);
    EXPECT_EQ(rig.service->statusReads, 0);
    EXPECT_FALSE(rig.model->isLaunchAgentEnabled());
    rig.scheduler->advance(1ms);
    EXPECT_TRUE(rig.model->isLaunchAgentEnabled());
    EXPECT_EQ(rig.continuations, 1);
}

TEST(LaunchAgentPageTest, ContinuesWithoutAWindow) {
    PageRig rig(false);
    rig.makeModel();
    rig.service->enabled = true;
    rig.scheduler->advance(1s);
    EXPECT_EQ(rig.events->list, Lines{"continue"});
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
}

TEST(LaunchAgentPageTest, ContinueStopsTheWatchAndContinues) {
    PageRig rig;
    rig.makeModel();
    auto timer = rig.model->monitoringTimer();
    rig.model->continueTapped();
    EXPECT_EQ(rig.continuations, 1);
    EXPECT_FALSE(rig.model->monitoringTimer());
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(rig.notifications, 1);
    rig.service->enabled = true;
    rig.scheduler->advance(3s);
    EXPECT_EQ(rig.service->statusReads, 0);
    EXPECT_EQ(rig.continuations, 1);

    // "Continue" after the automatic continuation goes on again: the user asked for it.
    PageRig enabled;
    enabled.service->enabled = true;
    enabled.makeModel();
    enabled.scheduler->advance(1s);
    enabled.model->continueTapped();
    EXPECT_EQ(enabled.continuations, 2);
}

TEST(LaunchAgentPageTest, WatchStopsWhenTheModelGoesAway) {
    PageRig rig;
    rig.makeModel();
    rig.scheduler->advance(1s);
    auto timer = rig.model->monitoringTimer();
    rig.subscription.cancel();
    rig.model.reset();
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    rig.service->enabled = true;
    rig.scheduler->advance(5s);
    EXPECT_EQ(rig.service->statusReads, 1);
    EXPECT_EQ(rig.continuations, 0);
}

TEST(LaunchAgentPageTest, ContinuationMayReleaseThePage) {
    // The navigation replaces the page while the continuation runs, from the timer and from the button.
    for (bool fromTimer : {true, false}) {
        SCOPED_TRACE(fromTimer ? "timer" : "button");
        auto scheduler = std::make_shared<platform::VirtualScheduler>();
        auto service = std::make_shared<FakeLaunchAgentService>();
        service->enabled = true;
        MainWindowController controller;
        std::shared_ptr<LaunchAgentServiceInfoViewModel> model;
        int continuations = 0;
        model = std::make_shared<LaunchAgentServiceInfoViewModel>(
            [&] {
                model.reset();
                ++continuations;  // the closure still runs after its model is gone
            },
            service, scheduler, controller);
        if (fromTimer)
            scheduler->advance(1s);
        else
            model->continueTapped();
        EXPECT_FALSE(model);
        EXPECT_EQ(continuations, 1);
        EXPECT_EQ(scheduler->activeTimerCount(), 0u);
        scheduler->advance(3s);
        EXPECT_EQ(continuations, 1);
    }
}

TEST(LaunchAgentPageTest, ASubscriberMayReleaseThePageWhenTold) {
    // A subscriber lets the page go on the first change it is told of: the status, or the stopped watch.
    for (bool fromTimer : {true, false}) {
        SCOPED_TRACE(fromTimer ? "timer" : "button");
        PageRig rig;
        rig.service->enabled = true;
        rig.makeModel();
        rig.subscription = rig.model->subscribe([&rig] {
            rig.subscription.cancel();
            rig.model.reset();
        });
        if (fromTimer)
            rig.scheduler->advance(1s);
        else
            rig.model->continueTapped();
        EXPECT_FALSE(rig.model);
        EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
        // The user went on with the button; a page let go on its status change leaves the rest to whoever
        // let it go.
        EXPECT_EQ(rig.continuations, fromTimer ? 0 : 1);
        rig.scheduler->advance(3s);
        EXPECT_EQ(rig.continuations, fromTimer ? 0 : 1);
    }
}

TEST(LaunchAgentPageTest, WithoutAServiceOfItsOwnEachCheckAsksTheAppsServiceOfTheMoment) {
    DependencyValues::shared().reset();
    auto first = std::make_shared<FakeLaunchAgentService>();
    Dependency<LaunchAgentServiceKey>().set(first);
    auto scheduler = std::make_shared<platform::VirtualScheduler>();
    MainWindowController controller;
    int continuations = 0;
    auto model = std::make_shared<LaunchAgentServiceInfoViewModel>([&] { ++continuations; }, nullptr,
                                                                   scheduler, controller);
    scheduler->advance(1s);
    EXPECT_EQ(first->statusReads, 1);

    auto second = std::make_shared<FakeLaunchAgentService>();
    second->enabled = true;
    Dependency<LaunchAgentServiceKey>().set(second);
    scheduler->advance(1s);
    EXPECT_EQ(first->statusReads, 1);
    EXPECT_EQ(second->statusReads, 1);
    EXPECT_TRUE(model->isLaunchAgentEnabled());
    EXPECT_EQ(continuations, 1);
    model.reset();
    DependencyValues::shared().reset();
}

namespace {

// Runs the event loop until the condition holds; false when it still does not after the deadline (a hang
// guard, not a measurement).
template <class Condition>
bool runUntil(Condition condition, std::chrono::milliseconds limit = 10s) {
    QDeadlineTimer deadline(limit);
    QEventLoop loop;
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

}  // namespace

TEST(LaunchAgentPageTest, ContinuesWhenTheUserRegistersTheAgentInTheRegistry) {
    // The live service on a real registry, counted, and the live event loop's timer.
    testsupport::LaunchAgentRegistry registry;
    registry.writeDefinition();
    auto service = std::make_shared<FakeLaunchAgentService>();
    service->forwardTo = std::make_shared<LaunchAgentServiceLive>(
        std::make_shared<LoggerClient>("ui"),
        LaunchAgentServiceLive::registryLookup(registry.definitions, registry.registry));
    MainWindowController controller;
    auto events = std::make_shared<CallLog>();
    controller.window = std::make_shared<testsupport::FakeWindow>(events);
    int continuations = 0;
    auto model = std::make_shared<LaunchAgentServiceInfoViewModel>([&] { ++continuations; }, service,
                                                                   platform::Scheduler::live(), controller);
    ASSERT_TRUE(runUntil([&] { return service->statusReads >= 1; }));
    EXPECT_FALSE(model->isLaunchAgentEnabled());

    registry.agent().registerAgent();  // the user's toggle
    ASSERT_TRUE(runUntil([&] { return continuations > 0; }));
    EXPECT_TRUE(model->isLaunchAgentEnabled());
    EXPECT_FALSE(model->monitoringTimer());
    EXPECT_EQ(events->list, Lines{"window to front"});
}
