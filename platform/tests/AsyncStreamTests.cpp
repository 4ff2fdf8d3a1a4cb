#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCoroTask>
#include <QEventLoop>
#include <QThread>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/qt/AsyncStream.h"
#include "platform/testing/Eventually.h"

namespace {

using platform::AsyncStream;

struct Drained {
    std::vector<int> values;
    bool resumedOnMainThread = true;
    bool endIsSticky = false;
};

// Takes values until the stream ends, then asks once more.
QCoro::Task<Drained> drain(AsyncStream<int> stream) {
    Drained result;
    while (auto value = co_await stream.next()) {
        result.values.push_back(*value);
        result.resumedOnMainThread = result.resumedOnMainThread && QThread::currentThread() == qApp->thread();
    }
    result.resumedOnMainThread = result.resumedOnMainThread && QThread::currentThread() == qApp->thread();
    result.endIsSticky = !(co_await stream.next()).has_value();
    co_return result;
}

QCoro::Task<void> takeOne(AsyncStream<std::string> stream, std::shared_ptr<std::optional<std::string>> into) {
    *into = co_await stream.next();
}

TEST(AsyncStream, BufferedValuesArriveInOrderThenTheEnd) {
    auto [stream, continuation] = AsyncStream<int>::make();
    for (int i = 1; i <= 3; ++i)
        continuation.yield(i);
    continuation.finish();
    continuation.yield(4);  // after finish: dropped
    continuation.finish();  // again: harmless
    EXPECT_TRUE(continuation.isFinished());

    auto drained = QCoro::waitFor(drain(stream));
    EXPECT_EQ(drained.values, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(drained.endIsSticky);
}

TEST(AsyncStream, WaitingConsumerIsResumedThroughTheEventLoopNotInline) {
    auto [stream, continuation] = AsyncStream<std::string>::make();
    auto received = std::make_shared<std::optional<std::string>>();
    auto task = takeOne(stream, received);  // suspends: nothing buffered yet

    continuation.yield("hello");
    EXPECT_FALSE(received->has_value());  // the producer's own work is not interrupted

    QCoro::waitFor(task);
    EXPECT_EQ(*received, "hello");
}

TEST(AsyncStream, FinishWakesAWaitingConsumerWithTheEnd) {
    auto [stream, continuation] = AsyncStream<std::string>::make();
    auto received = std::make_shared<std::optional<std::string>>("untouched");
    auto task = takeOne(stream, received);
    continuation.finish();
    QCoro::waitFor(task);
    EXPECT_FALSE(received->has_value());
}

// Nothing can feed a stream once every copy of its continuation is gone: it ends, after the values given
// before. A consumer left waiting is resumed with the end, whether its task is still held or was dropped by
// its owner (such a coroutine was otherwise never resumed nor destroyed: the sanitizer build's leak check
// sees it).
TEST(AsyncStream, EndsOnceTheLastCopyOfItsContinuationIsGone) {
    for (bool consumerTaskKept : {true, false}) {
        SCOPED_TRACE(consumerTaskKept ? "consumer's task kept" : "consumer's task dropped");
        auto made = AsyncStream<std::string>::make();
        auto stream = made.first;
        std::optional<AsyncStream<std::string>::Continuation> producer(made.second);
        std::optional<AsyncStream<std::string>::Continuation> copy(made.second);
        made = AsyncStream<std::string>::make();  // lets go of the pair's copy
        producer->yield("before");

        auto received = std::make_shared<std::optional<std::string>>("untouched");
        EXPECT_EQ(QCoro::waitFor(stream.next()), "before");
        std::optional<QCoro::Task<void>> consumer(takeOne(stream, received));
        if (!consumerTaskKept)
            consumer.reset();

        producer.reset();  // another copy still feeds it
        testsupport::runPendingEvents();
        EXPECT_EQ(*received, "untouched");

        copy.reset();
        EXPECT_TRUE(testsupport::eventually([&] { return !received->has_value(); }));
    }
}

// Values from several threads: each producer's values keep their order, none is lost, and the consumer only
// ever runs on the main thread.
TEST(AsyncStream, YieldsFromOtherThreadsArriveInOrderOnTheMainThread) {
    constexpr int producerCount = 4;
    constexpr int perProducer = 2000;

    for (bool consumerWaitsFirst : {false, true}) {
        SCOPED_TRACE(consumerWaitsFirst ? "consumer waiting" : "consumer not started");
        auto [stream, continuation] = AsyncStream<int>::make();
        std::optional<QCoro::Task<Drained>> consumer;
        if (consumerWaitsFirst)
            consumer.emplace(drain(stream));

        // The main thread runs no event loop while the producers work: a yield that waited for the consumer
        // would never return, and the joins would hang.
        std::vector<std::thread> producers;
        for (int p = 0; p < producerCount; ++p) {
            producers.emplace_back([continuation, p] {
                for (int i = 0; i < perProducer; ++i)
                    continuation.yield(p * perProducer + i);
            });
        }
        for (auto& producer : producers)
            producer.join();
        std::thread([continuation] { continuation.finish(); }).join();

        if (!consumer)
            consumer.emplace(drain(stream));
        auto drained = QCoro::waitFor(*consumer);

        EXPECT_TRUE(drained.resumedOnMainThread);
        ASSERT_EQ(drained.values.size(), std::size_t(producerCount * perProducer));
        std::vector<int> next(producerCount);
        for (int p = 0; p < producerCount; ++p)
            next[p] = p * perProducer;
        for (int value : drained.values) {
            int producer = value / perProducer;
            ASSERT_EQ(value, next[producer]) << "out of order from producer " << producer;
            ++next[producer];
        }
    }
}

TEST(AsyncStream, ProducerRacingAWaitingConsumerLosesNothing) {
    // The consumer alternates between taking buffered values and waiting while a producer thread keeps going.
    auto [stream, continuation] = AsyncStream<int>::make();
    constexpr int count = 20000;
    auto consumer = drain(stream);
    std::thread producer([continuation] {
        for (int i = 0; i < count; ++i) {
            continuation.yield(i);
            if (i % 1000 == 0)
                std::this_thread::yield();
        }
        continuation.finish();
    });
    auto drained = QCoro::waitFor(consumer);
    producer.join();

    ASSERT_EQ(drained.values.size(), std::size_t(count));
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(drained.values[i], i);
    EXPECT_TRUE(drained.resumedOnMainThread);
    EXPECT_TRUE(drained.endIsSticky);
}

}  // namespace
