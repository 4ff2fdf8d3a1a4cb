// A flow's steps: a step gives its value or its failure while the flow runs, and once the flow has ended it
// ends the coroutine that awaits it (and the coroutines above it), whatever the step brought; the flow's own
// failure handlers never see that end. Posted tasks of an ended flow do not start.
#include <gtest/gtest.h>

#include <stdexcept>

#include "Quorvane/core/Flow.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/AsyncStream.h"
#include "platform/testing/Await.h"

namespace {

using Lines = std::vector<std::string>;

// A reply the test gives when it likes: a value, or a failure.
struct Pending {
    QCoro::Task<int> reply() {
        auto [stream, continuation] = platform::AsyncStream<int>::make();
        // The test's is the only continuation: dropping it ends the stream.
        open.emplace(std::move(continuation));
        auto value = co_await stream.next();
        if (!value)
            throw std::runtime_error("refused");
        co_return *value;
    }
    std::optional<platform::AsyncStream<int>::Continuation> open;
};

// A flow of two levels: the inner coroutine awaits the reply, the outer one awaits the inner one; each
// handles failures as the app's flows do and logs what it gets to.
QCoro::Task<int> inner(Flow& flow, Pending& pending, Lines& log) {
    const int value = co_await flow.step(pending.reply());
    log.push_back("inner got " + std::to_string(value));
    co_return value + 1;
}

QCoro::Task<> outer(Flow& flow, Pending& pending, Lines& log) {
    try {
        const int value = co_await flow.step(inner(flow, pending, log));
        log.push_back("outer got " + std::to_string(value));
    } catch (const std::exception& error) {
        log.push_back(std::string("outer failed: ") + error.what());
    }
    log.push_back("outer done");
}

TEST(FlowTest, AStepGivesItsValueOrFailureWhileTheFlowRunsAndEndsTheFlowsCoroutinesOnceItHasEnded) {
    struct Case {
        const char* name;
        bool endFirst;  // the flow ends while the reply is on its way
        bool refused;   // the reply is a failure
        Lines log;
    };
    const Case cases[] = {
        {"a value", false, false, {"inner got 7", "outer got 8", "outer done"}},
        {"a failure", false, true, {"outer failed: refused", "outer done"}},
        {"a value after the end", true, false, {}},
        {"a failure after the end", true, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Flow flow;
        Pending pending;
        Lines log;
        auto task = outer(flow, pending, log);
        ASSERT_TRUE(pending.open);
        if (c.endFirst) {
            EXPECT_TRUE(flow.end());
        }
        if (!c.refused)
            pending.open->yield(7);
        pending.open.reset();
        const auto outcome = testsupport::run(std::move(task));
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(flow.hasEnded(), c.endFirst);
        if (c.endFirst) {
            EXPECT_TRUE(outcome.errorAs<Flow::Ended>()) << "the flow's task keeps the end to itself";
        } else {
            EXPECT_FALSE(outcome.error);
        }
    }
}

TEST(FlowTest, TheFlowEndsOnceAndItsPostedTasksStartOnlyWhileItRuns) {
    platform::VirtualScheduler scheduler;
    Flow flow;
    Lines log;
    flow.post(scheduler, [&] { log.push_back("first"); });
    scheduler.runPending();
    flow.post(scheduler, [&] { log.push_back("second"); });
    EXPECT_TRUE(flow.end());
    EXPECT_FALSE(flow.end());
    scheduler.runPending();
    EXPECT_EQ(log, Lines{"first"});
}

}  // namespace
