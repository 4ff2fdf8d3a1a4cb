// The XPC stand-in over real Unix sockets: framing, delivery, the peer check, interruption and invalidation.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "platform/testing/Eventually.h"
#include "platform/testing/RawSocket.h"
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
        int fd = testsupport::connectRawSocket(path);
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
        int fd = testsupport::connectRawSocket((folder / "s").native());
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

// closeAfterSending(): the peer gets every message sent before, whole, and the closing side calls no handler.

namespace {

// A peer of plain sockets listening under a service name: it reads only when the test says so.
class RawService {
  public:
    RawService() : name(uniqueServiceName()), path_(xpc::servicePath(name)) {
        listenFD_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        if (::bind(listenFD_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenFD_, 4) != 0)
            ADD_FAILURE() << "cannot listen at " << path_ << ": " << std::strerror(errno);
    }
    ~RawService() {
        ::close(listenFD_);
        ::unlink(path_.c_str());
        for (int fd : accepted_)
            ::close(fd);
    }
    RawService(const RawService&) = delete;
    RawService& operator=(const RawService&) = delete;

    // The next connection (closed with the service), or -1 when none comes within the limit.
    int accept(std::chrono::milliseconds limit = 5s) {
        pollfd p{listenFD_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1)
            return -1;
        int fd = ::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            accepted_.push_back(fd);
        return fd;
    }

    const std::string name;

  private:
    std::filesystem::path path_;
    int listenFD_ = -1;
    std::vector<int> accepted_;
};

// True when the other end has closed the socket (without reading what is queued here).
bool hungUp(int fd, std::chrono::milliseconds limit) {
    pollfd p{fd, 0, 0};
    return ::poll(&p, 1, static_cast<int>(limit.count())) == 1 && (p.revents & POLLHUP);
}

struct ReadResult {
    Bytes bytes;
    bool ended = false;  // the other end closed
};

// Reads until the other end closes, or until the limit passes without it.
ReadResult readToEnd(int fd, std::chrono::milliseconds limit = 5s) {
    ReadResult result;
    auto end = std::chrono::steady_clock::now() + limit;
    std::uint8_t chunk[64 * 1024];
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1)
            return result;
        ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            result.bytes.insert(result.bytes.end(), chunk, chunk + n);
        } else if (n == 0 || errno == ECONNRESET) {
            result.ended = true;
            return result;
        } else if (errno != EAGAIN && errno != EINTR) {
            return result;
        }
    }
}

// Four frames of nearly the largest size: about 1 MB, far more than a socket's buffers hold.
std::vector<Message> largeMessages() {
    std::vector<Message> messages;
    for (int i = 0; i < 4; ++i)
        messages.push_back(
            {"data:count:", {Bytes(xpc::maxFrameBodySize - 64, std::uint8_t(i + 1)), std::int64_t{i}}});
    return messages;
}

Bytes framesOf(const std::vector<Message>& messages) {
    Bytes stream;
    for (const auto& m : messages) {
        Bytes frame = xpc::encodeFrame(m);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

// A service connection whose every handler reports to `events`.
std::shared_ptr<xpc::Connection> reportingConnection(xpc::Reactor& reactor, const std::string& name,
                                                     Events& events) {
    auto connection = xpc::Connection::toService(reactor, name);
    connection->setRemoteInterface(echoInterface);
    connection->setExportedInterface(echoInterface, [&events](const Message& m) { events.add(m); });
    connection->setInterruptionHandler([&events] { events.bump(&Events::interruptions); });
    connection->setInvalidationHandler([&events] { events.bump(&Events::invalidations); });
    connection->resume();
    return connection;
}

void expectNoHandlerRan(Events& events) {
    std::lock_guard lock(events.mutex);
    EXPECT_TRUE(events.messages.empty());
    EXPECT_EQ(events.interruptions, 0);
    EXPECT_EQ(events.invalidations, 0);
}

}  // namespace

using XpcCloseAfterSending = XpcConnections;

TEST_F(XpcCloseAfterSending, PeerThatReadsOnlyAfterTheHandleIsDroppedGetsEveryFrameWhole) {
    RawService service;
    auto connection = reportingConnection(reactor, service.name, client);
    auto messages = largeMessages();
    for (const auto& m : messages)
        ASSERT_TRUE(connection->send(m));
    int peer = service.accept();
    ASSERT_GE(peer, 0);
    connection->closeAfterSending();
    connection.reset();
    thread.runSync([] {});

    Bytes expected = framesOf(messages);
    int queued = 0;
    ASSERT_EQ(::ioctl(peer, FIONREAD, &queued), 0);
    ASSERT_LT(static_cast<std::size_t>(queued), expected.size()) << "the rest must wait for the peer to read";
    EXPECT_FALSE(hungUp(peer, 0ms));

    // The closing side no longer reads: this message reaches no handler.
    Bytes late = xpc::encodeFrame({"say:", {std::string("too late")}});
    ASSERT_EQ(::send(peer, late.data(), late.size(), MSG_NOSIGNAL), static_cast<ssize_t>(late.size()));
    auto received = readToEnd(peer);
    EXPECT_TRUE(received.ended);
    ASSERT_EQ(received.bytes.size(), expected.size());
    EXPECT_TRUE(received.bytes == expected);
    thread.runSync([] {});
    expectNoHandlerRan(client);
}

TEST_F(XpcCloseAfterSending, PeerThatNeverReadsIsCutOffAfterTheLimit) {
    RawService service;
    auto connection = reportingConnection(reactor, service.name, client);
    connection->setCloseAfterSendingLimit(300ms);
    auto messages = largeMessages();
    for (const auto& m : messages)
        ASSERT_TRUE(connection->send(m));
    int peer = service.accept();
    ASSERT_GE(peer, 0);
    auto start = std::chrono::steady_clock::now();
    connection->closeAfterSending();
    connection.reset();
    thread.runSync([] {});
    EXPECT_FALSE(hungUp(peer, 0ms));

    ASSERT_TRUE(hungUp(peer, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    auto received = readToEnd(peer);
    EXPECT_TRUE(received.ended);
    EXPECT_LT(received.bytes.size(), framesOf(messages).size());
    thread.runSync([] {});
    expectNoHandlerRan(client);
}

TEST_F(XpcCloseAfterSending, NothingWaitingClosesAtOnceWhileTheHandleIsStillHeld) {
    RawService service;
    auto connection = reportingConnection(reactor, service.name, client);
    Message last{"say:", {std::string("bye")}};
    ASSERT_TRUE(connection->send(last));
    int peer = service.accept();
    ASSERT_GE(peer, 0);
    thread.runSync([] {});  // written whole on sending
    connection->closeAfterSending();
    thread.runSync([] {});

    EXPECT_TRUE(hungUp(peer, 0ms));
    EXPECT_TRUE(connection->isInvalidated());
    auto received = readToEnd(peer);
    EXPECT_TRUE(received.ended);
    EXPECT_EQ(received.bytes, xpc::encodeFrame(last));
    expectNoHandlerRan(client);
}

TEST_F(XpcCloseAfterSending, NoHandlerStartsOnceTheCallHasReturned) {
    RawService service;
    auto connection = reportingConnection(reactor, service.name, client);
    int peer = service.accept();
    ASSERT_GE(peer, 0);
    Bytes first = xpc::encodeFrame({"say:", {std::string("first")}});
    ASSERT_EQ(::send(peer, first.data(), first.size(), MSG_NOSIGNAL), static_cast<ssize_t>(first.size()));
    ASSERT_TRUE(client.waitFor([](Events& e) { return e.messages.size() == 1; }));

    // Hold the reactor so that a message and the peer's hang-up are both waiting when the call returns.
    std::promise<void> holding;
    std::promise<void> release;
    auto released = release.get_future().share();
    reactor.post([&holding, released] {
        holding.set_value();
        released.wait();
    });
    holding.get_future().wait();
    Bytes second = xpc::encodeFrame({"say:", {std::string("second")}});
    ASSERT_EQ(::send(peer, second.data(), second.size(), MSG_NOSIGNAL), static_cast<ssize_t>(second.size()));
    ::shutdown(peer, SHUT_RDWR);
    connection->closeAfterSending();
    release.set_value();
    thread.runSync([] {});
    thread.runSync([] {});

    std::lock_guard lock(client.mutex);
    EXPECT_EQ(client.messages.size(), 1u);
    EXPECT_EQ(client.interruptions, 0);
    EXPECT_EQ(client.invalidations, 0);
}

// The peer had a message of its own queued when it found the closing side gone: it still reads what came.
TEST_F(XpcCloseAfterSending, PeerThatIsSendingItselfStillGetsTheLastMessage) {
    auto name = uniqueServiceName();
    std::vector<std::shared_ptr<xpc::Connection>> accepted;
    auto listener = xpc::Listener::forService(reactor, name);
    listener->setDelegate([&](const std::shared_ptr<xpc::Connection>& connection) {
        connection->setRemoteInterface(echoInterface);
        connection->setExportedInterface(echoInterface, [this](const Message& m) { server.add(m); });
        connection->setInvalidationHandler([this] { server.bump(&Events::invalidations); });
        accepted.push_back(connection);  // resumed below, once the closing side is gone
        server.bump(&Events::accepted);
        return true;
    });
    listener->resume();
    auto connection = reportingConnection(reactor, name, client);
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.accepted == 1; }));
    connection->send({"say:", {std::string("last")}});
    connection->closeAfterSending();
    connection.reset();
    thread.runSync([] {});

    thread.runSync([&] {
        accepted[0]->send({"ping", {}});
        accepted[0]->resume();
    });
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.invalidations == 1; }));
    ASSERT_EQ(server.messages.size(), 1u);
    EXPECT_EQ(server.messages[0].stringAt(0), "last");
    expectNoHandlerRan(client);
}

TEST_F(XpcCloseAfterSending, ListenerLetsGoOfAnAcceptedConnectionItClosed) {
    auto listener = xpc::Listener::anonymous(reactor);
    std::weak_ptr<xpc::Connection> closed;
    listener->setDelegate([&](const std::shared_ptr<xpc::Connection>& connection) {
        connection->setRemoteInterface(echoInterface);
        connection->setInvalidationHandler([this] { server.bump(&Events::invalidations); });
        connection->resume();
        connection->send({"say:", {std::string("bye")}});
        connection->closeAfterSending();
        closed = connection;
        server.bump(&Events::accepted);
        return true;
    });
    listener->resume();
    auto connection = xpc::Connection::toEndpoint(reactor, listener->endpoint());
    connection->setExportedInterface(echoInterface, [this](const Message& m) { client.add(m); });
    connection->setInvalidationHandler([this] { client.bump(&Events::invalidations); });
    connection->resume();
    ASSERT_TRUE(client.waitFor([](Events& e) { return e.invalidations == 1; }));
    ASSERT_EQ(client.messages.size(), 1u);
    thread.runSync([] {});
    thread.runSync([] {});
    EXPECT_TRUE(closed.expired());
    EXPECT_EQ(server.invalidations, 0);
}

// The app's client runs its connections on a QtReactor and drops both together.
TEST(XpcQtReactor, PendingCloseFinishesOnTheEventLoopAndEndsWithTheReactor) {
    auto spin = [](const std::function<bool()>& done) {
        auto end = std::chrono::steady_clock::now() + 5s;
        while (!done() && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    };
    auto reactor = std::make_unique<xpc::QtReactor>();
    RawService service;
    Events events;
    auto messages = largeMessages();
    Bytes expected = framesOf(messages);

    auto connection = reportingConnection(*reactor, service.name, events);
    for (const auto& m : messages)
        connection->send(m);
    QCoreApplication::processEvents();
    int reader = service.accept();
    ASSERT_GE(reader, 0);
    connection->closeAfterSending();
    connection.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(hungUp(reader, 0ms));
    auto reading = std::async(std::launch::async, [reader] { return readToEnd(reader); });
    ASSERT_TRUE(spin([&] { return reading.wait_for(0ms) == std::future_status::ready; }));
    auto received = reading.get();
    EXPECT_TRUE(received.ended);
    EXPECT_TRUE(received.bytes == expected);

    // Destroying the reactor while a close still waits for the peer closes the socket, not leaks it.
    auto stuck = reportingConnection(*reactor, service.name, events);
    for (const auto& m : messages)
        stuck->send(m);
    QCoreApplication::processEvents();
    int idle = service.accept();
    ASSERT_GE(idle, 0);
    stuck->closeAfterSending();
    stuck.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(hungUp(idle, 0ms));
    reactor.reset();
    EXPECT_TRUE(hungUp(idle, 2s));
    expectNoHandlerRan(events);
}

// What goes with a reactor's queued work may post more while it goes (a connection's last handle closes it
// through its reactor). That work is dropped too, at once: left queued, it would outlive the reactor (a Qt
// event for a deleted object, or an element of a queue being destroyed).
TEST(XpcReactors, WorkPostedWhileTheReactorIsDestroyedIsDroppedWithIt) {
    struct PostsWhenDropped {
        xpc::Reactor& reactor;
        std::shared_ptr<int> held;
        bool* ran;
        ~PostsWhenDropped() {
            reactor.post([held = held, ran = ran] { *ran = true; });
        }
    };
    auto check = [](std::unique_ptr<xpc::Reactor> reactor) {
        bool ran = false;
        auto held = std::make_shared<int>(0);
        std::weak_ptr<int> watched = held;
        auto dropped = std::make_shared<PostsWhenDropped>(PostsWhenDropped{*reactor, std::move(held), &ran});
        reactor->post([dropped] {});
        dropped.reset();
        reactor.reset();
        EXPECT_TRUE(watched.expired());
        QCoreApplication::processEvents();
        EXPECT_FALSE(ran);
    };
    {
        SCOPED_TRACE("PollReactor");
        check(std::make_unique<xpc::PollReactor>());
    }
    {
        SCOPED_TRACE("QtReactor");
        check(std::make_unique<xpc::QtReactor>());
    }
}

TEST(XpcReactorThread, StoppingItWhileACloseWaitsClosesTheSocket) {
    RawService service;
    Events events;
    auto thread = std::make_unique<xpc::ReactorThread>();
    auto connection = reportingConnection(thread->reactor(), service.name, events);
    for (const auto& m : largeMessages())
        connection->send(m);
    int peer = service.accept();
    ASSERT_GE(peer, 0);
    connection->closeAfterSending();
    connection.reset();
    thread->runSync([] {});
    EXPECT_FALSE(hungUp(peer, 0ms));
    thread.reset();
    EXPECT_TRUE(hungUp(peer, 2s));
    expectNoHandlerRan(events);
}

// A listener out of descriptors must not spin on its still-readable socket, and takes the waiting clients
// once descriptors are free again.

namespace {

// Lowers the process's soft limit on descriptors to a little above the highest one open and takes every free
// one below it: until release(), opening a descriptor fails with EMFILE. The destructor restores both.
class DescriptorShortage {
  public:
    explicit DescriptorShortage(int headroom) {
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::stoi(entry.path().filename().native()));
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(highest + 1 + headroom);
        fillers_.reserve(static_cast<std::size_t>(highest + 1 + headroom));
        if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0)
            ADD_FAILURE() << "cannot lower RLIMIT_NOFILE: " << std::strerror(errno);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            fillers_.push_back(fd);
        if (errno != EMFILE)
            ADD_FAILURE() << "filling the descriptor table: " << std::strerror(errno);
    }
    ~DescriptorShortage() {
        release(fillers_.size());
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }
    std::size_t held() const { return fillers_.size(); }
    void release(std::size_t count) {
        for (; count > 0 && !fillers_.empty(); --count) {
            ::close(fillers_.back());
            fillers_.pop_back();
        }
    }

  private:
    rlimit saved_{};
    std::vector<int> fillers_;
};

std::chrono::nanoseconds processCPUTime() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// `runFor` lets the reactor work for a while (sleeping, or running the Qt event loop it lives on).
void expectListenerWaitsOutDescriptorShortage(xpc::Reactor& reactor,
                                              const std::function<void(std::chrono::milliseconds)>& runFor) {
    constexpr int clientCount = 20;
    constexpr int firstBatch = 3;
    std::atomic<int> accepted = 0;
    auto listener = xpc::Listener::anonymous(reactor);
    listener->setDelegate([&accepted](const std::shared_ptr<xpc::Connection>& connection) {
        connection->setExportedInterface(echoInterface, [](const Message&) {});
        connection->resume();
        ++accepted;
        return true;
    });
    auto waitUntilAccepted = [&](int count) {
        for (auto end = std::chrono::steady_clock::now() + 5s;
             accepted < count && std::chrono::steady_clock::now() < end;)
            runFor(20ms);
        return accepted.load() == count;
    };
    std::vector<int> clients;
    for (int i = 0; i < clientCount; ++i) {
        clients.push_back(testsupport::connectRawSocket(listener->endpoint().path));
        ASSERT_GE(clients.back(), 0);
    }
    {
        DescriptorShortage shortage(clientCount + 4);
        ASSERT_GE(shortage.held(), std::size_t(clientCount));
        shortage.release(firstBatch);
        listener->resume();
        ASSERT_TRUE(waitUntilAccepted(firstBatch));

        // A busy loop would use the whole interval; waking a few times to retry uses next to nothing.
        auto before = processCPUTime();
        runFor(500ms);
        auto used = std::chrono::duration_cast<std::chrono::milliseconds>(processCPUTime() - before);
        EXPECT_LT(used.count(), 150) << "the listener spins while out of descriptors";
        EXPECT_EQ(accepted.load(), firstBatch);

        shortage.release(shortage.held());
        EXPECT_TRUE(waitUntilAccepted(clientCount)) << accepted.load() << " accepted";
    }
    listener->invalidate();
    runFor(100ms);
    listener.reset();
    runFor(50ms);
    for (int fd : clients) {
        EXPECT_TRUE(closedByPeer(fd, 1s));
        ::close(fd);
    }
}

}  // namespace

TEST_F(XpcConnections, ListenerOutOfDescriptorsWaitsWithoutSpinningAndAcceptsOnceTheyAreFree) {
    expectListenerWaitsOutDescriptorShortage(
        reactor, [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); });
}

TEST(XpcQtReactor, ListenerOutOfDescriptorsWaitsWithoutSpinningAndAcceptsOnceTheyAreFree) {
    xpc::QtReactor reactor;
    expectListenerWaitsOutDescriptorShortage(reactor, [](std::chrono::milliseconds d) {
        QEventLoop loop;
        QTimer::singleShot(d, &loop, &QEventLoop::quit);
        loop.exec();
    });
}

// No peer holds more than its share: of the reactor's time, of the memory queued for it, of the listener's
// connections.

TEST_F(XpcConnections, PeerThatKeepsSendingDoesNotKeepTheOthersWaiting) {
    std::atomic<long> flooded = 0;
    std::atomic<long> floodedWhenHeard = -1;
    std::atomic<int> accepted = 0;
    auto listener = xpc::Listener::anonymous(reactor);
    listener->setDelegate([&](const std::shared_ptr<xpc::Connection>& connection) {
        connection->setExportedInterface(echoInterface, [&](const Message& m) {
            if (m.name == "ping")
                ++flooded;
            else
                floodedWhenHeard = flooded.load();
        });
        connection->resume();
        ++accepted;
        return true;
    });
    listener->resume();
    int quiet = testsupport::connectRawSocket(listener->endpoint().path);
    int flooder = testsupport::connectRawSocket(listener->endpoint().path);
    ASSERT_TRUE(testsupport::eventually([&] { return accepted == 2; }));

    // The smallest frames, written from a thread of its own as fast as the socket takes them, until the end.
    Bytes burst;
    for (int i = 0; i < 8192; ++i) {
        Bytes frame = xpc::encodeFrame({"ping", {}});
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    std::atomic<bool> stop = false;
    std::thread flood([&] {
        while (!stop)
            if (::send(flooder, burst.data(), burst.size(), MSG_NOSIGNAL) < 0 && errno != EINTR)
                return;
    });
    // Delivered as they come, not once the flood ends.
    EXPECT_TRUE(testsupport::eventually([&] { return flooded > 0; }));

    // Once the message is in the quiet peer's socket, the flood gets a turn or two before it is heard: one
    // read per turn is at most 65536 bytes, 5461 of these frames.
    Bytes say = xpc::encodeFrame({"say:", {std::string("me too")}});
    ASSERT_EQ(::send(quiet, say.data(), say.size(), MSG_NOSIGNAL), static_cast<ssize_t>(say.size()));
    long sent = flooded;
    EXPECT_TRUE(testsupport::eventually([&] { return floodedWhenHeard >= 0; }));
    EXPECT_LE(floodedWhenHeard - sent, 4 * 5461);

    stop = true;
    ::shutdown(flooder, SHUT_RDWR);
    flood.join();
    ::close(flooder);
    ::close(quiet);
}

TEST_F(XpcConnections, PeerThatDoesNotReadIsCutOffOnceItsQueueIsFull) {
    RawService service;  // accepts, never reads
    std::atomic<bool> onReactorThread = false;
    auto connection = reportingConnection(reactor, service.name, client);
    connection->setInvalidationHandler([&] {
        onReactorThread = reactor.isReactorThread();
        client.bump(&Events::invalidations);
    });
    const std::size_t limit = 300 * 1000;
    connection->setSendQueueLimit(limit);
    int peer = service.accept();
    ASSERT_GE(peer, 0);

    const Message message{"data:count:", {Bytes(50 * 1000, 7), std::int64_t{0}}};
    const std::size_t frameSize = xpc::encodeFrame(message).size();
    std::size_t sent = 0;
    for (; sent < 1000 && !connection->isInvalidated(); ++sent) {
        ASSERT_TRUE(connection->send(message));
        thread.runSync([] {});
    }
    ASSERT_TRUE(connection->isInvalidated()) << "queued without limit";
    ASSERT_TRUE(client.waitFor([](Events& e) { return e.invalidations == 1; }));
    EXPECT_TRUE(onReactorThread);

    // Cut off exactly when the next message would have taken the queue beyond the limit.
    auto received = readToEnd(peer);
    EXPECT_TRUE(received.ended);
    std::size_t queued = (sent - 1) * frameSize - received.bytes.size();
    EXPECT_LE(queued, limit);
    EXPECT_GT(queued + frameSize, limit);

    connection->send(message);
    thread.runSync([] {});
    EXPECT_EQ(client.invalidations, 1);
}

TEST_F(XpcConnections, ListenerClosesClientsBeyondItsLimitAtOnceAndTakesNewOnesWhenOthersEnd) {
    auto listener = xpc::Listener::anonymous(reactor);
    listener->setConnectionLimit(2);
    echoListener(reactor, listener, server);
    const auto path = listener->endpoint().path;
    Bytes ping = xpc::encodeFrame({"ping", {}});
    auto sendPing = [&](int fd) {
        return ::send(fd, ping.data(), ping.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(ping.size());
    };

    int first = testsupport::connectRawSocket(path);
    int second = testsupport::connectRawSocket(path);
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.accepted == 2; }));
    int refused = testsupport::connectRawSocket(path);
    ASSERT_GE(refused, 0);
    EXPECT_TRUE(closedByPeer(refused));
    ::close(refused);
    EXPECT_EQ(server.accepted, 2);

    ASSERT_TRUE(sendPing(second));
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.messages.size() == 1; }));
    ::close(first);
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.invalidations == 1; }));
    int next = testsupport::connectRawSocket(path);
    ASSERT_TRUE(sendPing(next));
    EXPECT_TRUE(server.waitFor([](Events& e) { return e.accepted == 3 && e.messages.size() == 2; }));
    ::close(second);
    ::close(next);
}

TEST_F(XpcConnections, AcceptedConnectionThatSendsNothingInTimeIsInvalidated) {
    auto listener = xpc::Listener::anonymous(reactor);
    listener->setFirstMessageLimit(300ms);
    echoListener(reactor, listener, server);
    Bytes ping = xpc::encodeFrame({"ping", {}});

    // Accepted first, so its time would be up first too.
    int talker = testsupport::connectRawSocket(listener->endpoint().path);
    ASSERT_EQ(::send(talker, ping.data(), ping.size(), MSG_NOSIGNAL), static_cast<ssize_t>(ping.size()));
    int silent = testsupport::connectRawSocket(listener->endpoint().path);
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.accepted == 2 && e.messages.size() == 1; }));

    EXPECT_TRUE(closedByPeer(silent, 5s));
    ASSERT_TRUE(server.waitFor([](Events& e) { return e.invalidations == 1; }));
    ASSERT_EQ(::send(talker, ping.data(), ping.size(), MSG_NOSIGNAL), static_cast<ssize_t>(ping.size()));
    EXPECT_TRUE(server.waitFor([](Events& e) { return e.messages.size() == 2; }));
    thread.runSync([] {});
    EXPECT_EQ(server.invalidations, 1);
    ::close(talker);
    ::close(silent);
}
