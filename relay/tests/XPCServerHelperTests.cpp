// The relay object in process, on a virtual clock: the edges of the ready signal's 10 s buffer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/testing/TestEnvironment.h"
#include "relay/service/XPCServerHelper.h"
#include "relay/testing/RelayTestSupport.h"

using namespace relaytest;

namespace {

struct ReadyCounter : relay::XPCClientToken {
    std::atomic<int> ready{0};
    void appIsReady() override { ++ready; }
    void signatureReadyWithSignature(const Bytes&) override {}
    void signatureFailed() override {}
};

}  // namespace

TEST(XPCServerHelper, BufferedReadySignalIsForwardedOnlyWithinTheWindow) {
    struct Case {
        double secondsLater;  // before scaling
        bool forwarded;
    };
    for (auto c : {Case{0.0, true}, Case{9.9, true}, Case{10.0, false}, Case{12.0, false}}) {
        auto path = testsupport::makeTempDir("helper") / "log.txt";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        platform::Date now = std::chrono::system_clock::now();
        relay::XPCLogger logger(path.native(), fd, [&now] { return now; });
        xpc::ReactorThread thread;
        auto helper =
            std::make_shared<relay::XPCServerHelper>(logger, thread.reactor(), [&now] { return now; });
        auto token = std::make_shared<ReadyCounter>();
        auto listener = xpc::Listener::anonymous(thread.reactor());
        listener->setDelegate([token](const std::shared_ptr<xpc::Connection>& connection) {
            relay::exportObject(*connection, std::weak_ptr<relay::XPCClientToken>(token));
            connection->resume();
            return true;
        });
        listener->resume();
        // The app that sends the signal, registered first as apps do.
        auto app = xpc::Listener::anonymous(thread.reactor());
        app->setDelegate([](const std::shared_ptr<xpc::Connection>& connection) {
            connection->resume();
            return true;
        });
        app->resume();

        thread.runSync([&] {
            const auto client = helper->newClient();
            helper->registerFor(client, app->endpoint(), 0);
            helper->sendAppIsReadySignal(client);
        });
        EXPECT_TRUE(helper->isAppReadySignalPending());
        now += std::chrono::duration_cast<platform::Date::duration>(
            platform::Seconds(c.secondsLater * relay::timeScale()));
        thread.runSync([&] { helper->registerFor(helper->newClient(), listener->endpoint(), 1); });
        EXPECT_FALSE(helper->isAppReadySignalPending());  // used up either way

        if (c.forwarded) {
            EXPECT_TRUE(eventually([&] { return token->ready == 1; })) << c.secondsLater;
        } else {
            std::this_thread::sleep_for(50ms);
            EXPECT_EQ(token->ready, 0) << c.secondsLater;
            EXPECT_EQ(countOf(logMessages(readFile(path)),
                              "error: Cannot send buffered app ready signal, buffer allowed time is expired"),
                      1u);
        }
        thread.runSync([&] { helper.reset(); });
        listener.reset();
        app.reset();
        thread.runSync([] {});
        ::close(fd);
    }
}
