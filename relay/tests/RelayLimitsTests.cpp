// What one peer can make the relay hold: an app that does not read loses its connection once 1 MiB waits for
// it, connections beyond 64 are closed at once, and a connection that sends nothing for 5 s is closed. After
// each, the relay still serves a real exchange.
#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/testing/RawSocket.h"
#include "relay/testing/RelayTestSupport.h"

using namespace relaytest;

namespace {

int connectToRelay() {
    return testsupport::connectRawSocket(xpc::servicePath(relay::machServiceName));
}

bool sendAll(int fd, const Bytes& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// How many of the sockets the relay has closed.
std::size_t closedByRelay(const std::vector<int>& fds) {
    std::vector<pollfd> polled;
    for (int fd : fds)
        polled.push_back(pollfd{fd, 0, 0});
    ::poll(polled.data(), polled.size(), 0);
    return static_cast<std::size_t>(
        std::count_if(polled.begin(), polled.end(), [](const pollfd& p) { return p.revents & POLLHUP; }));
}

class RelayLimits : public ::testing::Test {
  protected:
    xpc::ReactorThread thread;
    BrokelProcess brokel;
    std::shared_ptr<EVP_PKEY> key{EVP_EC_gen("P-256"), EVP_PKEY_free};

    // One whole exchange between a fresh app and a fresh token.
    void expectAnExchangeStillWorks() {
        auto app = std::make_shared<FakeApp>(thread.reactor(), key);
        auto token = std::make_shared<FakeToken>(thread.reactor());
        token->connectAndRegister();
        app->connectAndRegister();
        ASSERT_TRUE(token->waitForReady(1));
        Bytes hash(32, 0x5A);
        token->sendHash(hash, "CARD");
        ASSERT_TRUE(token->waitForSignatures(1));
        EXPECT_TRUE(verifies(key.get(), hash, token->signatures()[0]));
        app->disconnect();
        token->disconnect();
        thread.runSync([] {});
    }
};

}  // namespace

TEST_F(RelayLimits, AppThatDoesNotReadLosesItsConnectionOnceMessagesForItPileUp) {
    // Registered as the app, with a listener that takes the relay's connection and never reads it.
    auto service = xpc::Connection::toService(thread.reactor(), relay::machServiceName);
    service->setRemoteInterface(relay::xpcServiceInterface());
    service->resume();
    std::vector<std::shared_ptr<xpc::Connection>> unread;
    auto listener = xpc::Listener::anonymous(thread.reactor());
    listener->setDelegate([&unread](const std::shared_ptr<xpc::Connection>& connection) {
        unread.push_back(connection);
        return true;
    });
    listener->resume();
    relay::XPCServiceProxy::remoteObjectProxy(service)->registerFor(listener->endpoint(), 0);
    ASSERT_TRUE(brokel.waitForMessage("info: Endpoint received for app"));

    // 10 MB of hashes for it.
    int token = connectToRelay();
    ASSERT_GE(token, 0);
    Bytes frame = xpc::encodeFrame(
        {"sendSignHashRequestWithHash:instanceID:", {Bytes(200 * 1000, 0xEE), std::string("CARD")}});
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(sendAll(token, frame));
    ASSERT_TRUE(brokel.waitForMessage("info: Cleaning up connection for app"));
    EXPECT_TRUE(brokel.waitForMessage("error: Cannot sign hash, app connection not found"));
    // Once this is heard, every hash before it has been handled: none is left for the next app.
    ASSERT_TRUE(sendAll(token, xpc::encodeFrame({"sendSignRequestTimeout", {}})));
    ASSERT_TRUE(
        brokel.waitForMessage("error: Cannot send sign request timeout message, app connection not found"));
    ::close(token);

    expectAnExchangeStillWorks();
    thread.runSync([&] {
        listener->invalidate();
        unread.clear();
    });
}

TEST_F(RelayLimits, FloodOfIdleConnectionsLeavesTheRelayReachable) {
    constexpr std::size_t flood = 1100;  // beyond the 1,024 descriptors a process gets by default
    constexpr std::size_t kept = 64;
    // This process holds its end of every connection: it raises its own limit, which the relay, started
    // before, does not share.
    constexpr rlim_t needed = flood + 100;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < needed) {
        limit.rlim_cur = needed;
        if (limit.rlim_max < needed || ::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            GTEST_SKIP() << "this process may not open " << needed << " descriptors";
    }
    // Closed however the test ends: a failure must not leave the next test without descriptors.
    struct Sockets : std::vector<int> {
        ~Sockets() {
            for (int fd : *this)
                ::close(fd);
        }
    } idle;
    for (std::size_t i = 0; i < flood; ++i) {
        idle.push_back(connectToRelay());
        ASSERT_GE(idle.back(), 0) << i;
    }
    // Those beyond the limit go at once, long before the ones kept have waited out their 5 s.
    ASSERT_TRUE(eventually([&] { return closedByRelay(idle) >= flood - kept; }));
    EXPECT_EQ(closedByRelay(idle), flood - kept);
    // Then the ones kept, which never said a word; the flood still holds its ends.
    ASSERT_TRUE(eventually([&] { return closedByRelay(idle) == flood; }, 15s));

    expectAnExchangeStillWorks();
}

TEST_F(RelayLimits, ConnectionThatSendsNothingIsClosedOneThatSpokeStays) {
    Bytes timeout = xpc::encodeFrame({"sendSignRequestTimeout", {}});
    int talker = connectToRelay();
    ASSERT_TRUE(sendAll(talker, timeout));
    int silent = connectToRelay();
    ASSERT_TRUE(
        brokel.waitForMessage("error: Cannot send sign request timeout message, app connection not found"));

    ASSERT_TRUE(eventually([&] { return closedByRelay({silent}) == 1; }, 15s));
    EXPECT_EQ(closedByRelay({talker}), 0u);
    ASSERT_TRUE(sendAll(talker, timeout));
    EXPECT_TRUE(brokel.waitForMessage(
        "error: Cannot send sign request timeout message, app connection not found", 2));
    ::close(talker);
    ::close(silent);
}
