#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/PluginClientDarwin.h"
#include "platform/DarwinNotify.h"
#include "platform/testing/PrivateBus.h"
#include "platform/testing/TestEnvironment.h"

namespace {

using ::testing::ElementsAre;
using testsupport::PrivateBus;
using ObserverProcess = testsupport::NotifyObserverProcess;

const std::string requested = "com.tovik.pc-signing.certificate-requested";
const std::string retrieved = "com.tovik.pc-signing.certificate-retrieved";
const std::string endMark = "com.tovik.quorvane.test.plugin-client.end";

// The posting side runs in a process of its own (this test program, filtered to the poster below): a process
// keeps one bus connection for all its posts, so only a fresh process is sure to post on the private bus.
constexpr const char* posterVariable = "QUORVANE_TEST_PLUGIN_CLIENT_POSTER";
constexpr const char* posterFilter = "--gtest_filter=PluginClientDarwinPoster.*";

// Runs the poster in a child process; its exit status, -1 for a crash or a hang.
int runPoster(QProcessEnvironment environment) {
    environment.insert(posterVariable, "1");
    QProcess poster;
    poster.setProcessEnvironment(environment);
    poster.start(QCoreApplication::applicationFilePath(), {posterFilter});
    if (!poster.waitForFinished(30000) || poster.exitStatus() != QProcess::NormalExit)
        return -1;
    return poster.exitCode();
}

// The child's side: the app's live plug-in client signals the certificate road once, then the end mark goes
// out on the same connection, so it arrives last.
TEST(PluginClientDarwinPoster, SignalsTheCertificateRoad) {
    if (!std::getenv(posterVariable))
        GTEST_SKIP() << "runs only in the child process of PluginClientDarwinTest";
    DependencyValues::shared().reset();
    auto client = DependencyValues::shared().get<PluginClientKey>();
    ASSERT_TRUE(std::dynamic_pointer_cast<PluginClientDarwin>(client));
    client->signalCertificateRequested();
    client->signalCertificateRetrieved();
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        EXPECT_TRUE(platform::DarwinNotify::post(endMark));
    }
    DependencyValues::shared().reset();
}

TEST(PluginClientDarwinTest, AnotherProcessObservesRequestedThenRetrievedAndNothingElse) {
    PrivateBus bus;
    ASSERT_TRUE(bus.isUp());
    ObserverProcess observer(bus.environment(), {"--until", QString::fromStdString(endMark)});
    ASSERT_TRUE(observer.waitUntilReady());

    EXPECT_EQ(runPoster(bus.environment()), 0);

    auto [status, names] = observer.finish();
    EXPECT_EQ(status, 0) << "the end mark never arrived";
    EXPECT_THAT(names, ElementsAre(requested, retrieved));
}

TEST(PluginClientDarwinTest, WithoutASessionBusSignallingNeitherThrowsNorHangs) {
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    // No bus started on demand for an X session either; the child's runtime folder is a fresh one without a
    // bus socket (the test main gives it one).
    environment.remove("DISPLAY");
    EXPECT_EQ(runPoster(environment), 0);
}

}  // namespace
