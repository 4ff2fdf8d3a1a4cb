// The XPC stand-in over real Unix sockets: framing, delivery, the peer check, interruption and invalidation.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/testing/TestEnvironment.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Message.h"
#include "platform/xpc/Reactor.h"
#include "platform/xpc/qt/QtReactor.h"

using namespace std::chrono_literals;
using platform::Bytes;
using xpc::ArgumentType;
using xpc::Message;

namespace {

const xpc::Interface echoInterface("Echo", {{"say:", {ArgumentType::string}},
                                            {"data:count:", {ArgumentType::bytes, ArgumentType::int64}},
                                            {"ping", {}}});

// Collects what handlers report from the reactor thread; the test thread waits for it with a deadline.
struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Message> messages;
    int invalidations = 0;
    int interruptions = 0;
    int accepted = 0;

    void add(const Message& m) {
        std::lock_guard lock(mutex);
        messages.push_back(m);
        changed.notify_all();
    }
    void bump(int Events::*counter) {
        std::lock_guard lock(mutex);
        ++(this->*counter);
        changed.notify_all();
    }
    template <class P>
    bool waitFor(P predicate, std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return predicate(*this); });
    }
};

std::string uniqueServiceName() {
    static int counter = 0;
    return "test.service." + std::to_string(::getpid()) + "." + std::to_string(++counter);
}

// A listener whose accepted connections report to `events`.
std::shared_ptr<xpc::Listener> echoListener(xpc::Reactor& reactor, std::shared_ptr<xpc::Listener> listener,
                                            Events& events,
                                            std::vector<std::shared_ptr<xpc::Connection>>* keep = nullptr) {
    listener->setDelegate([&events, keep](const std::shared_ptr<xpc::Connection>& connection) {
        events.bump(&Events::accepted);
        connection->setExportedInterface(echoInterface, [&events](const Message& m) { events.add(m); });
        connection->setRemoteInterface(echoInterface);
        connection->setInvalidationHandler([&events] { events.bump(&Events::invalidations); });
        connection->resume();
        if (keep)
            keep->push_back(connection);
        return true;
    });
    (void)reactor;
    listener->resume();
    return listener;
}

int rawConnect(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the peer closes the socket within the limit.
bool closedByPeer(int fd, std::chrono::milliseconds limit = 3s) {
    timeval timeout{static_cast<time_t>(limit.count() / 1000),
                    static_cast<suseconds_t>((limit.count() % 1000) * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char buffer[64];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

}  // namespace

TEST(XpcCodec, RoundTripsEveryArgumentType) {
    Message message{"data:count:", {Bytes{0, 1, 255}, std::int64_t{-42}}};
    Message text{"say:", {std::string("h\xC3\xA9llo")}};
    Message empty{"ping", {}};
    Message big{"data:count:", {Bytes(xpc::maxFrameBodySize - 64, 7), std::int64_t{INT64_MIN}}};
    for (const auto& m : {message, text, empty, big}) {
        auto frame = xpc::encodeFrame(m);
        auto decoded = xpc::decodeBody(frame.data() + 4, frame.size() - 4);
        ASSERT_TRUE(decoded) << m.name;
        EXPECT_EQ(*decoded, m);
    }
}

TEST(XpcCodec, DecoderReassemblesFramesFedByteByByte) {
    Bytes stream = xpc::encodeFrame({"say:", {std::string("one")}});
    Bytes second = xpc::encodeFrame({"ping", {}});
    stream.insert(stream.end(), second.begin(), second.end());
    xpc::FrameDecoder decoder;
    std::vector<Message> out;
    for (auto byte : stream) {
        ASSERT_EQ(decoder.feed(&byte, 1), xpc::FrameDecoder::Status::ok);
        while (auto m = decoder.next())
            out.push_back(*m);
    }
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].stringAt(0), "one");
    EXPECT_EQ(out[1].name, "ping");
}

TEST(XpcCodec, RefusesMalformedBodies) {
    auto body = [](Bytes frame) { return Bytes(frame.begin() + 4, frame.end()); };
    Bytes valid = body(xpc::encodeFrame({"say:", {std::string("x")}}));
    Bytes truncated(valid.begin(), valid.end() - 1);
    Bytes trailing = valid;
    trailing.push_back(0);
    Bytes badType = valid;
    badType[2 + 4 + 2] = 9;  // the first argument's type
    Bytes badUTF8 = valid;
    badUTF8.back() = 0xC3;  // a lone lead byte
    Bytes badName = valid;
    badName[2] = ' ';
    Bytes emptyName{0, 0, 0, 0};
    Bytes tooManyArguments{0, 4, 'p', 'i', 'n', 'g', 0, 17};
    Bytes hugeLength = valid;
    hugeLength[2 + 4 + 2 + 1] = 0x7F;  // the string's length
    struct Case {
        const char* name;
        Bytes body;
    };
    for (const auto& c :
         {Case{"truncated", truncated}, Case{"trailing", trailing}, Case{"bad type", badType},
          Case{"bad UTF-8", badUTF8}, Case{"bad name", badName}, Case{"empty name", emptyName},
          Case{"too many arguments", tooManyArguments}, Case{"huge length", hugeLength}})
        EXPECT_FALSE(xpc::decodeBody(c.body.data(), c.body.size())) << c.name;

    xpc::FrameDecoder decoder;
    std::uint8_t oversized[4] = {0x7F, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(decoder.feed(oversized, 4), xpc::FrameDecoder::Status::malformed);
    EXPECT_THROW(xpc::encodeFrame({"say:", {std::string("\xFF")}}), std::length_error);
    EXPECT_THROW(xpc::encodeFrame({"data:count:", {Bytes(xpc::maxFrameBodySize + 1), std::int64_t{0}}}),
                 std::length_error);
}

TEST(XpcInterface, AcceptsOnlyItsMethodsWithTheirTypes) {
    EXPECT_TRUE(echoInterface.accepts({"say:", {std::string("a")}}));
    EXPECT_FALSE(echoInterface.accepts({"say:", {Bytes{1}}}));
    EXPECT_FALSE(echoInterface.accepts({"say:", {}}));
    EXPECT_FALSE(echoInterface.accepts({"shout:", {std::string("a")}}));
}

class XpcConnections : public ::testing::Test {
  protected:
    xpc::ReactorThread thread;
    xpc::Reactor& reactor = thread.reactor();
    Events server;
    Events client;
};

TEST_F(XpcConnections, DeliversMessagesInOrderBothWays) {
    auto name = uniqueServiceName();
    std::vector<std::shared_ptr<xpc::Connection>> accepted;
    auto listener = echoListener(reactor, xpc::Listener::forService(reactor, name), server, &accepted);

    auto connection = xpc::Connection::toService(reactor, name);
    connection->setRemoteInterface(echoInterface);
    connection->setExportedInterface(echoInterface, [this](const Message& m) { client.add(m); });
    connection->resume();
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(connection->send({"data:count:", {Bytes{std::uint8_t(i)}, std::int64_t{i}}}));
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.messages.size() == 50; }));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(server.messages[i].int64At(1), i);

    thread.runSync([] {});
    ASSERT_EQ(accepted.size(), 1u);
    ASSERT_TRUE(accepted[0]->peer());
    EXPECT_EQ(accepted[0]->peer()->uid, ::geteuid());
    EXPECT_EQ(accepted[0]->peer()->pid, ::getpid());
    accepted[0]->send({"say:", {std::string("back")}});
    ASSERT_TRUE(client.waitFor([](Events& e) { return e.messages.size() == 1; }));
    EXPECT_EQ(client.messages[0].stringAt(0), "back");
}

TEST_F(XpcConnections, RemoteProxyRefusesMessagesOutsideTheRemoteInterface) {
    auto connection = xpc::Connection::toService(reactor, uniqueServiceName());
    EXPECT_FALSE(connection->send({"ping", {}}));  // no remote interface yet
    EXPECT_EQ(connection->remoteInterfaceName(), "");
    connection->setRemoteInterface(echoInterface);
    EXPECT_EQ(connection->remoteInterfaceName(), "Echo");
    EXPECT_FALSE(connection->send({"say:", {std::int64_t{1}}}));
    EXPECT_TRUE(connection->send({"ping", {}}));
}

TEST_F(XpcConnections, ServiceWithoutListenerOrAgentInvalidatesTheConnection) {
    auto connection = xpc::Connection::toService(reactor, uniqueServiceName());
    connection->setRemoteInterface(echoInterface);
    connection->setInvalidationHandler([this] { client.bump(&Events::invalidations); });
    connection->send({"ping", {}});  // dropped, as for an unreachable service
    connection->resume();
    ASSERT_TRUE(client.waitFor([](Events& e) { return e.invalidations == 1; }));
    EXPECT_TRUE(connection->isInvalidated());
    connection->invalidate();
    thread.runSync([] {});
    EXPECT_EQ(client.invalidations, 1);  // at most once
}

TEST_F(XpcConnections, SuspendedConnectionHoldsMessagesUntilResumed) {
    auto name = uniqueServiceName();
    std::vector<std::shared_ptr<xpc::Connection>> accepted;
    auto listener = xpc::Listener::forService(reactor, name);
    listener->setDelegate([&](const std::shared_ptr<xpc::Connection>& connection) {
        connection->setExportedInterface(echoInterface, [this](const Message& m) { server.add(m); });
        accepted.push_back(connection);  // not resumed yet
        server.bump(&Events::accepted);
        return true;
    });
    listener->resume();
    auto connection = xpc::Connection::toService(reactor, name);
    connection->setRemoteInterface(echoInterface);
    connection->resume();
    connection->send({"ping", {}});
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.accepted == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(server.messages.empty());
    thread.runSync([&] {});
    accepted[0]->resume();
    EXPECT_TRUE(server.waitFor([](Events& e) { return e.messages.size() == 1; }));
}

TEST_F(XpcConnections, MalformedFramesAndForeignMethodsCloseTheConnection) {
    auto name = uniqueServiceName();
    auto listener = echoListener(reactor, xpc::Listener::forService(reactor, name), server);
    auto path = xpc::servicePath(name).native();

    Bytes unknownMethod = xpc::encodeFrame({"shout:", {std::string("x")}});
    Bytes wrongTypes = xpc::encodeFrame({"say:", {Bytes{1}}});
    Bytes oversized{0x00, 0x10, 0x00, 0x01};  // announces more than a frame may hold
    Bytes garbage{0, 0, 0, 3, 0xFF, 0xFF, 0xFF};
    for (const auto& bytes : {unknownMethod, wrongTypes, oversized, garbage}) {
        int fd = rawConnect(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
        EXPECT_TRUE(closedByPeer(fd));
        ::close(fd);
    }
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.invalidations == 4; }));
    EXPECT_TRUE(server.messages.empty());
}

TEST_F(XpcConnections, PeerThatFailsTheRequirementIsCutOffBeforeAnyMessage) {
    auto listener = xpc::Listener::anonymous(reactor);
    listener->setPeerRequirement(xpc::PeerRequirement{::geteuid() + 1});
    echoListener(reactor, listener, server);

    auto connection = xpc::Connection::toEndpoint(reactor, listener->endpoint());
    connection->setRemoteInterface(echoInterface);
    connection->setInvalidationHandler([this] { client.bump(&Events::invalidations); });
    connection->resume();
    connection->send({"ping", {}});
    ASSERT_TRUE(client.waitFor([](Events& e) { return e.invalidations == 1; }));
    EXPECT_EQ(server.accepted, 0);
    EXPECT_TRUE(server.messages.empty());

    EXPECT_TRUE(xpc::PeerRequirement::sameUser().isSatisfiedBy(xpc::PeerCredentials{1, ::geteuid(), 0}));
    EXPECT_FALSE(xpc::PeerRequirement::sameUser().isSatisfiedBy(xpc::PeerCredentials{1, ::geteuid() + 1, 0}));
}

TEST_F(XpcConnections, PeerOfAnotherUserIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs to switch to another user";
    auto folder = testsupport::makeTempDir("xpc-other-user");
    ::chmod(folder.c_str(), 0777);
    ::chmod(folder.parent_path().c_str(), 0755);
    ::chmod(folder.parent_path().parent_path().c_str(), 0755);
    auto listener = xpc::Listener::atPath(reactor, folder / "s");
    ::chmod((folder / "s").c_str(), 0777);
    echoListener(reactor, listener, server);

    Bytes frame = xpc::encodeFrame({"say:", {std::string("from nobody")}});
    pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(2);
        int fd = rawConnect((folder / "s").native());
        if (fd < 0)
            ::_exit(3);
        ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        ::_exit(closedByPeer(fd) ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    thread.runSync([] {});
    EXPECT_EQ(server.accepted, 0);
    EXPECT_TRUE(server.messages.empty());
}

TEST_F(XpcConnections, EndpointsTravelAsPathsAndOnlyServiceFolderPathsConnect) {
    auto listener = echoListener(reactor, xpc::Listener::anonymous(reactor), server);
    auto endpoint = listener->endpoint();
    EXPECT_EQ(std::filesystem::path(endpoint.path).parent_path(), xpc::serviceFolder());
    struct stat info {};
    ASSERT_EQ(::stat(xpc::serviceFolder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    auto good = xpc::Connection::toEndpoint(reactor, xpc::Endpoint{endpoint.path});
    good->setRemoteInterface(echoInterface);
    good->resume();
    good->send({"say:", {std::string("hi")}});
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.messages.size() == 1; }));

    auto outsider = testsupport::makeTempDir("xpc-outside") / "a-0000000000000000";
    auto foreign = xpc::Listener::atPath(reactor, outsider);
    for (const auto& path :
         {outsider.native(), std::string("relative"), (xpc::serviceFolder() / "../x").native()}) {
        auto bad = xpc::Connection::toEndpoint(reactor, xpc::Endpoint{path});
        bad->setInvalidationHandler([this] { client.bump(&Events::invalidations); });
        bad->resume();
    }
    EXPECT_TRUE(client.waitFor([](Events& e) { return e.invalidations == 3; }));

    // Invalidating the listener ends the connections it accepted, and removes its socket.
    listener->invalidate();
    EXPECT_TRUE(server.waitFor([](Events& e) { return e.invalidations == 1; }));
    EXPECT_FALSE(std::filesystem::exists(endpoint.path));
}

TEST_F(XpcConnections, ServiceNameIsHeldByOneListenerAtATime) {
    auto name = uniqueServiceName();
    auto first = xpc::Listener::forService(reactor, name);
    try {
        xpc::Listener::forService(reactor, name);
        FAIL() << "a second listener took the name";
    } catch (const xpc::XPCError& error) {
        EXPECT_EQ(error.code(), xpc::XPCError::Code::serviceInUse);
    }
    first.reset();
    thread.runSync([] {});
    EXPECT_NO_THROW(echoListener(reactor, xpc::Listener::forService(reactor, name), server));
    EXPECT_THROW(xpc::Listener::forService(reactor, "../escape"), xpc::XPCError);
}

TEST_F(XpcConnections, ServiceConnectionIsInterruptedWhenThePeerGoesAndReconnectsOnTheNextMessage) {
    auto name = uniqueServiceName();
    std::vector<std::shared_ptr<xpc::Connection>> accepted;
    auto listener = echoListener(reactor, xpc::Listener::forService(reactor, name), server, &accepted);

    auto connection = xpc::Connection::toService(reactor, name);
    connection->setRemoteInterface(echoInterface);
    connection->setInterruptionHandler([this] { client.bump(&Events::interruptions); });
    connection->setInvalidationHandler([this] { client.bump(&Events::invalidations); });
    connection->resume();
    connection->send({"ping", {}});
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.messages.size() == 1; }));

    thread.runSync([&] { accepted[0]->invalidate(); });
    ASSERT_TRUE(client.waitFor([](Events& e) { return e.interruptions == 1; }));
    EXPECT_EQ(client.invalidations, 0);

    connection->send({"say:", {std::string("again")}});
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.messages.size() == 2; }));
    EXPECT_EQ(server.accepted, 2);
}

TEST_F(XpcConnections, DroppingAConnectionClosesItWithoutCallingItsHandlers) {
    auto listener = echoListener(reactor, xpc::Listener::anonymous(reactor), server);
    auto connection = xpc::Connection::toEndpoint(reactor, listener->endpoint());
    connection->setRemoteInterface(echoInterface);
    connection->setInvalidationHandler([this] { client.bump(&Events::invalidations); });
    connection->resume();
    connection->send({"ping", {}});
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.messages.size() == 1; }));
    connection.reset();
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.invalidations == 1; }));
    thread.runSync([] {});
    EXPECT_EQ(client.invalidations, 0);
}

TEST(XpcQtReactor, RunsConnectionsOnTheQtEventLoop) {
    xpc::QtReactor reactor;
    EXPECT_TRUE(reactor.isReactorThread());
    auto name = uniqueServiceName();
    std::vector<Message> received;
    int invalidations = 0;
    auto listener = xpc::Listener::forService(reactor, name);
    listener->setDelegate([&](const std::shared_ptr<xpc::Connection>& connection) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        connection->setExportedInterface(echoInterface, [&](const Message& m) { received.push_back(m); });
        connection->setInvalidationHandler([&] { ++invalidations; });
        connection->resume();
        return true;
    });
    listener->resume();
    auto connection = xpc::Connection::toService(reactor, name);
    connection->setRemoteInterface(echoInterface);
    connection->resume();
    for (int i = 0; i < 20; ++i)
        connection->send({"data:count:", {Bytes(100000, 1), std::int64_t{i}}});
    auto spin = [](const std::function<bool()>& done) {
        auto end = std::chrono::steady_clock::now() + 5s;
        while (!done() && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    };
    ASSERT_TRUE(spin([&] { return received.size() == 20; }));
    EXPECT_EQ(received.back().int64At(1), 19);
    connection.reset();
    EXPECT_TRUE(spin([&] { return invalidations == 1; }));

    bool fired = false;
    bool cancelled = false;
    reactor.startTimer(10ms, [&] { fired = true; });
    reactor.cancelTimer(reactor.startTimer(10ms, [&] { cancelled = true; }));
    EXPECT_TRUE(spin([&] { return fired; }));
    EXPECT_FALSE(cancelled);
}
