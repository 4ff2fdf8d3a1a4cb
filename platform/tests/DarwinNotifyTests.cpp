#include <dbus/dbus.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/DarwinNotify.h"
#include "platform/testing/PrivateBus.h"
#include "platform/testing/TestEnvironment.h"

namespace {

using platform::DarwinNotify;
using platform::DarwinNotifyObserver;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testsupport::PrivateBus;
using ObserverProcess = testsupport::NotifyObserverProcess;

const std::string requested = "com.tovik.pc-signing.certificate-requested";
const std::string retrieved = "com.tovik.pc-signing.certificate-retrieved";
const std::string endMark = "com.tovik.quorvane.test.end";

// Names of this process only: other test programs post on the same session bus at the same time.
std::string uniqueName(const std::string& suffix) {
    return "com.tovik.quorvane.test." + std::to_string(::getpid()) + "." + suffix;
}

QStringList toQt(const std::vector<std::string>& strings) {
    QStringList list;
    for (const auto& s : strings)
        list << QString::fromStdString(s);
    return list;
}

// Posts the names in order from a separate process; its exit status, -1 for a crash or a hang.
int postFromAnotherProcess(const QProcessEnvironment& environment, const std::vector<std::string>& names) {
    QProcess poster;
    poster.setProcessEnvironment(environment);
    poster.start(testsupport::notifyObserverProgram(), QStringList{"--post"} + toQt(names));
    if (!poster.waitForFinished(30000) || poster.exitStatus() != QProcess::NormalExit)
        return -1;
    return poster.exitCode();
}

// Observer threads of this process, known by their name: a count of all threads would also count the
// threads of other work.
std::size_t observerThreadCount() {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == DarwinNotifyObserver::threadName)
            ++count;
    }
    return count;
}

// A thread is still listed for a moment after it was joined; waits for the count to settle (a leaked thread
// never lets it).
bool observerThreadsBecome(std::size_t expected) {
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (observerThreadCount() != expected) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Collects what an in-process observer's callback receives, and on which thread.
struct Received {
    std::mutex mutex;
    std::vector<std::string> names;
    std::vector<std::thread::id> threads;

    DarwinNotifyObserver::Callback callback() {
        return [this](const std::string& name) {
            std::lock_guard lock(mutex);
            names.push_back(name);
            threads.push_back(std::this_thread::get_id());
        };
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex);
        return names;
    }
};

class DarwinNotifyOnSessionBus : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr)
            << "these tests need a session bus: run them under dbus-run-session";
    }
};

struct CrossProcessCase {
    const char* label;
    std::vector<std::string> observed;  // empty: every name
    std::vector<std::string> posted;
    std::vector<std::string> seen;
};

TEST(DarwinNotifyAcrossProcesses, AnObserverProcessSeesWhatItObservesInPostingOrderAndNothingElse) {
    const std::string other = "com.tovik.pc-signing.something-else";
    const std::vector<CrossProcessCase> cases = {
        {"the two certificate notifications, every name observed",
         {},
         {requested, retrieved},
         {requested, retrieved}},
        {"only observed names, repeats kept, in order",
         {requested, retrieved},
         {other, retrieved, requested, other, requested},
         {retrieved, requested, requested}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        PrivateBus bus;
        ASSERT_TRUE(bus.isUp());
        ObserverProcess observer(bus.environment(),
                                 QStringList{"--until", QString::fromStdString(endMark)} + toQt(c.observed));
        ASSERT_TRUE(observer.waitUntilReady());

        auto posted = c.posted;
        posted.push_back(endMark);  // posted last by the same process, so it arrives last
        EXPECT_EQ(postFromAnotherProcess(bus.environment(), posted), 0);

        auto [status, lines] = observer.finish();
        EXPECT_EQ(status, 0);
        EXPECT_THAT(lines, ElementsAreArray(c.seen));
    }
}

TEST(DarwinNotifyAcrossProcesses, AnObserverEndsAtOnceWhenTheBusGoesAway) {
    PrivateBus bus;
    ASSERT_TRUE(bus.isUp());
    // A deadline far beyond the test's limit: only noticing the lost bus ends the wait in time.
    ObserverProcess observer(bus.environment(), {"--until", QString::fromStdString(endMark), "--timeout-ms",
                                                 "3600000", QString::fromStdString(requested)});
    ASSERT_TRUE(observer.waitUntilReady());
    bus.stop();
    auto [status, lines] = observer.finish(60000);
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(lines.empty());
}

TEST(DarwinNotifyAcrossProcesses, WithoutAReachableBusPostingFailsAndObservingObservesNothingWithoutACrash) {
    const auto emptyRuntimeDir = testsupport::makeTempDir("no-bus");
    struct Case {
        const char* label;
        const char* address;  // nullptr: unset
    };
    for (const Case& c :
         {Case{"no address", nullptr}, Case{"address of no bus", "unix:path=/nonexistent/quorvane/bus"},
          Case{"malformed address", "not an address"}}) {
        SCOPED_TRACE(c.label);
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        environment.remove("DISPLAY");  // no bus started on demand for an X session either
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(emptyRuntimeDir.string()));
        if (c.address)
            environment.insert("DBUS_SESSION_BUS_ADDRESS", c.address);

        EXPECT_EQ(postFromAnotherProcess(environment, {requested, retrieved}), 3);

        ObserverProcess observer(environment, {"--until", QString::fromStdString(endMark)});
        auto [status, lines] = observer.finish();
        EXPECT_EQ(status, 3);
        EXPECT_TRUE(lines.empty());
    }
}

TEST_F(DarwinNotifyOnSessionBus, AnInProcessObserverGetsItsNamesInOrderOnOneThreadOfItsOwn) {
    const auto first = uniqueName("order.first"), second = uniqueName("order.second");
    Received received;
    DarwinNotifyObserver observer({first, second}, received.callback());
    ASSERT_TRUE(observer.isObserving());

    for (const auto& name : {first, uniqueName("order.unobserved"), second, first})
        ASSERT_TRUE(DarwinNotify::post(name));

    // Each delivery is taken once, whatever order the waits come in.
    EXPECT_TRUE(observer.waitFor(second, 30s));
    EXPECT_TRUE(observer.waitFor(first, 30s));
    EXPECT_TRUE(observer.waitFor(first, 30s));
    EXPECT_FALSE(observer.waitFor(first, 50ms));

    std::lock_guard lock(received.mutex);
    EXPECT_THAT(received.names, ElementsAre(first, second, first));
    ASSERT_EQ(received.threads.size(), 3u);
    EXPECT_NE(received.threads[0], std::this_thread::get_id());
    EXPECT_EQ(received.threads[1], received.threads[0]);
    EXPECT_EQ(received.threads[2], received.threads[0]);
}

TEST_F(DarwinNotifyOnSessionBus, WaitForGivesUpAtItsDeadlineOrAtOnceForANameNotObserved) {
    const auto name = uniqueName("deadline");
    DarwinNotifyObserver observer({name});
    ASSERT_TRUE(observer.isObserving());

    const auto deadline = std::chrono::steady_clock::now() + 200ms;
    EXPECT_FALSE(observer.waitFor(name, deadline));
    EXPECT_GE(std::chrono::steady_clock::now(), deadline);

    const auto farDeadline = std::chrono::steady_clock::now() + 60s;
    EXPECT_FALSE(observer.waitFor(uniqueName("deadline.unobserved"), farDeadline));
    EXPECT_LT(std::chrono::steady_clock::now(), farDeadline);

    // A delivery that came before the wait counts, even with the deadline passed. Deliveries are handled in
    // order, so once the later one is taken the earlier one is at hand.
    const auto later = uniqueName("deadline.later");
    DarwinNotifyObserver both({name, later});
    ASSERT_TRUE(DarwinNotify::post(name));
    ASSERT_TRUE(DarwinNotify::post(later));
    ASSERT_TRUE(both.waitFor(later, 30s));
    EXPECT_TRUE(both.waitFor(name, std::chrono::steady_clock::now() - 1s));
}

TEST_F(DarwinNotifyOnSessionBus, StoppingWakesWaitersEndsTheThreadAndDeliversNothingMore) {
    const auto name = uniqueName("stop");
    // The observers of earlier tests are gone, though their threads may still be listed for a moment.
    ASSERT_TRUE(observerThreadsBecome(0));
    Received received;
    {
        DarwinNotifyObserver observer({name}, received.callback());
        ASSERT_TRUE(observer.isObserving());
        EXPECT_EQ(observerThreadCount(), 1u);
        {
            auto waiting = std::async(std::launch::async, [&] { return observer.waitFor(name, 1h); });
            std::this_thread::sleep_for(
                100ms);  // let it block (one that starts after stop() returns at once anyway)
            observer.stop();
            ASSERT_EQ(waiting.wait_for(30s), std::future_status::ready) << "stop() left a waiter blocked";
            EXPECT_FALSE(waiting.get());
        }
        EXPECT_FALSE(observer.isObserving());
        EXPECT_TRUE(observerThreadsBecome(0));

        ASSERT_TRUE(DarwinNotify::post(name));
        EXPECT_FALSE(observer.waitFor(name, 1h));
        observer.stop();
    }
    // A later observer proves the post above went out: the stopped one got none of it.
    DarwinNotifyObserver later({name});
    ASSERT_TRUE(DarwinNotify::post(name));
    ASSERT_TRUE(later.waitFor(name, 30s));
    EXPECT_TRUE(received.snapshot().empty());

    // Destroyed without stop(): its thread ends too.
    { DarwinNotifyObserver another({name}, received.callback()); }
    EXPECT_TRUE(observerThreadsBecome(1));  // only `later`
}

TEST_F(DarwinNotifyOnSessionBus, ACallbackMayStopItsOwnObserver) {
    const auto name = uniqueName("self-stop");
    std::atomic<int> calls{0};
    std::unique_ptr<DarwinNotifyObserver> observer;
    observer =
        std::make_unique<DarwinNotifyObserver>(std::vector<std::string>{name}, [&](const std::string&) {
            ++calls;
            observer->stop();
        });
    ASSERT_TRUE(DarwinNotify::post(name));
    ASSERT_TRUE(DarwinNotify::post(name));
    EXPECT_TRUE(observer->waitFor(name, 30s));
    EXPECT_FALSE(observer->waitFor(name, 30s));
    EXPECT_FALSE(observer->isObserving());
    EXPECT_EQ(calls, 1);
    observer.reset();
}

TEST_F(DarwinNotifyOnSessionBus, SignalsOfAnotherShapeOnTheInterfaceAreIgnored) {
    const auto name = uniqueName("shape");
    Received received;
    DarwinNotifyObserver observer(DarwinNotifyObserver::allNames, received.callback());
    ASSERT_TRUE(observer.isObserving());

    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    ASSERT_NE(connection, nullptr) << error.message;
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    auto send = [&](const char* path, auto append) {
        DBusMessage* message =
            dbus_message_new_signal(path, DarwinNotify::interfaceName, DarwinNotify::memberName);
        append(message);
        dbus_connection_send(connection, message, nullptr);
        dbus_message_unref(message);
    };
    const char* text = name.c_str();
    const dbus_int32_t number = 7;
    send(DarwinNotify::objectPath, [](DBusMessage*) {});
    send(DarwinNotify::objectPath,
         [&](DBusMessage* m) { dbus_message_append_args(m, DBUS_TYPE_INT32, &number, DBUS_TYPE_INVALID); });
    send(DarwinNotify::objectPath, [&](DBusMessage* m) {
        dbus_message_append_args(m, DBUS_TYPE_STRING, &text, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    });
    send("/elsewhere",
         [&](DBusMessage* m) { dbus_message_append_args(m, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID); });
    send(DarwinNotify::objectPath,
         [&](DBusMessage* m) { dbus_message_append_args(m, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID); });
    dbus_connection_flush(connection);
    dbus_connection_close(connection);
    dbus_connection_unref(connection);

    ASSERT_TRUE(observer.waitFor(name, 30s));
    observer.stop();
    auto names = received.snapshot();
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 1);
}

TEST_F(DarwinNotifyOnSessionBus, NamesThatCannotBeSentAreRefusedWithoutReachingTheBus) {
    const std::string longest(DarwinNotify::maxNameLength, 'n');
    EXPECT_TRUE(DarwinNotify::post(longest));
    struct Case {
        const char* label;
        std::string name;
    };
    for (const auto& c : {Case{"empty", ""}, Case{"not UTF-8", "com.tovik.\xff\xfe"},
                          Case{"NUL inside", std::string("com.tovik\0x", 11)},
                          Case{"too long", std::string(DarwinNotify::maxNameLength + 1, 'n')}}) {
        SCOPED_TRACE(c.label);
        EXPECT_FALSE(DarwinNotify::isValidName(c.name));
        EXPECT_FALSE(DarwinNotify::post(c.name));
    }
    // The process is still able to post.
    const auto name = uniqueName("after-refusals");
    DarwinNotifyObserver observer({name});
    ASSERT_TRUE(DarwinNotify::post(name));
    EXPECT_TRUE(observer.waitFor(name, 30s));
}

}  // namespace
