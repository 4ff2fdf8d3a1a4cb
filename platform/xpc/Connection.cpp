#include "platform/xpc/Connection.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>

#include "platform/LaunchAgent.h"
#include "platform/UserFolders.h"
#include "platform/xpc/ConnectionInternal.h"

namespace xpc {

namespace {

constexpr std::chrono::milliseconds connectRetryInterval{20};
// What a connection reads per turn of the reactor: a peer that keeps sending gets no more than this before
// the other connections have had their turn.
constexpr std::size_t readChunk = 64 * 1024;
// A frame of the largest size always fits in a send queue.
constexpr std::size_t smallestSendQueueLimit = 4 + maxFrameBodySize;

std::atomic<std::size_t> defaultSendQueueLimit{Connection::standardSendQueueLimit};

bool isValidServiceName(const std::string& name) {
    if (name.empty() || name.size() > 100 || name == "." || name == "..")
        return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return name.rfind("a-", 0) != 0;  // the prefix of anonymous listeners
}

}  // namespace

namespace internal {

bool fillAddress(const std::filesystem::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace internal

XPCError::XPCError(Code code, std::string detail) : code_(code), text_(std::move(detail)) {}

PeerRequirement PeerRequirement::sameUser() {
    return PeerRequirement{::geteuid()};
}

std::optional<PeerCredentials> peerCredentials(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials)
        return std::nullopt;
    return PeerCredentials{credentials.pid, credentials.uid, credentials.gid};
}

std::filesystem::path serviceFolder() {
    auto folder = platform::runtimeFolder() / "quorvane-xpc";
    if (!platform::makePrivateFolder(folder))
        throw XPCError(XPCError::Code::serviceFolderUnavailable,
                       "the service folder is not usable: " + folder.native());
    return folder;
}

std::filesystem::path servicePath(const std::string& serviceName) {
    if (!isValidServiceName(serviceName))
        throw XPCError(XPCError::Code::invalidName, "invalid service name: " + serviceName);
    return serviceFolder() / serviceName;
}

struct Connection::Impl : std::enable_shared_from_this<Impl> {
    enum class Kind { service, endpoint, accepted };
    enum class State { idle, connecting, connected, interrupted, invalidated };

    Impl(Reactor& reactor, Kind kind) : reactor(reactor), kind(kind) {}
    ~Impl() {
        if (fd >= 0)
            ::close(fd);
    }

    Reactor& reactor;
    const Kind kind;
    std::string serviceName;
    std::filesystem::path path;

    // Set from any thread before or after resume; read on the reactor thread.
    mutable std::mutex mutex;
    Interface remote;
    bool hasRemote = false;
    Interface exported;
    MessageHandler handler;
    std::function<void()> interruptionHandler;
    std::function<void()> invalidationHandler;
    PeerRequirement requirement = PeerRequirement::sameUser();
    std::chrono::milliseconds launchWaitLimit{10000};
    std::chrono::milliseconds closeAfterSendingLimit{10000};
    std::size_t sendQueueLimit = defaultSendQueueLimit;
    std::optional<PeerCredentials> credentials;
    std::atomic<bool> invalidated{false};

    // Reactor thread only.
    State state = State::idle;
    bool suspended = true;
    int fd = -1;
    Reactor::WatchID watchID = 0;
    bool timerPending = false;
    Reactor::TimerID timerID = 0;
    bool launched = false;
    std::chrono::steady_clock::time_point deadline;
    platform::Bytes outbox;
    std::size_t outboxSent = 0;
    std::deque<Message> inbox;
    FrameDecoder decoder;
    bool firstMessagePending = false;  // its timer closes an accepted connection that has sent nothing
    Reactor::TimerID firstMessageTimerID = 0;
    bool delivering = false;
    std::function<void()> onInvalidated;  // the accepting listener's bookkeeping
    // Set while closeAfterSending() waits for the outbox to be written. Its timer holds this strongly, so the
    // connection lives on without handles, and a reactor destroyed meanwhile still closes the socket.
    bool closing = false;
    Reactor::TimerID closeTimerID = 0;

    void resume() {
        suspended = false;
        if (state == State::idle) {
            start();
        } else if (state == State::connected) {
            updateWatch();
            deliverInbox();
        }
    }

    void suspend() {
        suspended = true;
        if (state == State::connected)
            updateWatch();
    }

    void clearHandlers() {
        std::lock_guard lock(mutex);
        invalidationHandler = nullptr;
        interruptionHandler = nullptr;
        handler = nullptr;
    }

    void closeAfterSending() {
        if (state == State::invalidated || closing)
            return;
        suspended = true;
        clearHandlers();
        bool waiting = outboxSent < outbox.size();
        if (!waiting || (state != State::connected && state != State::connecting)) {
            closeSilently();
            return;
        }
        closing = true;
        std::chrono::milliseconds limit;
        {
            std::lock_guard lock(mutex);
            limit = closeAfterSendingLimit;
        }
        closeTimerID = reactor.startTimer(limit, [self = shared_from_this()] { self->finishClosing(); });
        if (state == State::connected)
            updateWatch();
    }

    // Callers hold a reference: cancelling the timer may drop the last other one.
    void finishClosing() {
        if (!closing)
            return;
        closing = false;
        reactor.cancelTimer(closeTimerID);
        closeSilently();
    }

    void awaitFirstMessage(std::chrono::milliseconds limit) {
        if (limit.count() <= 0)
            return;
        firstMessagePending = true;
        std::weak_ptr<Impl> weak = shared_from_this();
        firstMessageTimerID = reactor.startTimer(limit, [weak] {
            if (auto self = weak.lock()) {
                self->firstMessagePending = false;
                self->invalidate();
            }
        });
    }

    void stopWaitingForFirstMessage() {
        if (firstMessagePending)
            reactor.cancelTimer(firstMessageTimerID);
        firstMessagePending = false;
    }

    void start() {
        if (kind == Kind::accepted) {
            PeerRequirement wanted;
            std::optional<PeerCredentials> peer;
            {
                std::lock_guard lock(mutex);
                wanted = requirement;
                peer = credentials;
            }
            if (!peer || !wanted.isSatisfiedBy(*peer)) {
                invalidate();
                return;
            }
            state = State::connected;
            watchSocket();
            return;
        }
        beginConnect();
    }

    void beginConnect() {
        state = State::connecting;
        launched = false;
        {
            std::lock_guard lock(mutex);
            deadline = std::chrono::steady_clock::now() + launchWaitLimit;
        }
        attemptConnect();
    }

    void retryLater(std::chrono::milliseconds delay) {
        timerPending = true;
        std::weak_ptr<Impl> weak = shared_from_this();
        timerID = reactor.startTimer(delay, [weak] {
            if (auto self = weak.lock()) {
                self->timerPending = false;
                if (self->state == State::connecting)
                    self->attemptConnect();
            }
        });
    }

    void attemptConnect() {
        sockaddr_un address;
        if (!internal::fillAddress(path, address)) {
            invalidate();
            return;
        }
        int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0) {
            invalidate();
            return;
        }
        if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            connected(s);
            return;
        }
        int error = errno;
        ::close(s);
        auto now = std::chrono::steady_clock::now();
        if (error == EAGAIN || error == EINPROGRESS || error == EINTR) {
            // The listener's backlog is full: it is there, just busy.
            if (now < deadline) {
                retryLater(connectRetryInterval);
                return;
            }
        } else if ((error == ENOENT || error == ECONNREFUSED) && kind == Kind::service) {
            if (!launched) {
                launched = true;
                auto agent = platform::LaunchAgent::registeredAgentForService(serviceName);
                if (agent && platform::LaunchAgent::startDetached(*agent)) {
                    retryLater(connectRetryInterval);
                    return;
                }
            } else if (now < deadline) {
                retryLater(connectRetryInterval);
                return;
            }
        }
        invalidate();
    }

    void connected(int s) {
        fd = s;
        auto peer = peerCredentials(fd);
        PeerRequirement wanted;
        {
            std::lock_guard lock(mutex);
            credentials = peer;
            wanted = requirement;
        }
        if (!peer || !wanted.isSatisfiedBy(*peer)) {
            invalidate();
            return;
        }
        state = State::connected;
        decoder = FrameDecoder();
        watchSocket();
    }

    unsigned wantedEvents() const {
        unsigned events = 0;
        if (!suspended)
            events |= Reactor::readable;
        if (outboxSent < outbox.size())
            events |= Reactor::writable;
        return events;
    }

    void watchSocket() {
        std::weak_ptr<Impl> weak = shared_from_this();
        watchID = reactor.watch(fd, wantedEvents(), [weak](unsigned ready) {
            if (auto self = weak.lock())
                self->ready(ready);
        });
    }

    void updateWatch() {
        if (watchID)
            reactor.updateWatch(watchID, wantedEvents());
    }

    void closeSocket() {
        if (watchID)
            reactor.unwatch(watchID);
        watchID = 0;
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (timerPending)
            reactor.cancelTimer(timerID);
        timerPending = false;
        stopWaitingForFirstMessage();
        outbox.clear();
        outboxSent = 0;
    }

    void ready(unsigned events) {
        auto self = shared_from_this();
        if ((events & Reactor::writable) && state == State::connected)
            flush();
        if ((events & Reactor::readable) && state == State::connected && !suspended)
            readAvailable();
    }

    // Reads one chunk and delivers the messages it completes; the reactor calls again while more is waiting.
    // A peer that has gone is read to its end instead (what it sent last still counts).
    void readAvailable(bool toTheEnd = false) {
        std::uint8_t chunk[readChunk];
        for (;;) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n > 0) {
                if (decoder.feed(chunk, static_cast<std::size_t>(n)) != FrameDecoder::Status::ok) {
                    invalidate();
                    return;
                }
                while (auto message = decoder.next())
                    inbox.push_back(std::move(*message));
                if (!inbox.empty())
                    stopWaitingForFirstMessage();
                deliverInbox();
                if (!toTheEnd || state != State::connected || suspended)
                    return;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (n < 0 && errno == EINTR)
                continue;
            deliverInbox();
            peerGone();
            return;
        }
    }

    void deliverInbox() {
        if (delivering)
            return;  // a handler resumed the connection from inside a delivery
        delivering = true;
        while (!suspended && state == State::connected && !inbox.empty()) {
            Message message = std::move(inbox.front());
            inbox.pop_front();
            MessageHandler deliver;
            bool accepted;
            {
                std::lock_guard lock(mutex);
                accepted = exported.accepts(message);
                deliver = handler;
            }
            if (!accepted) {
                delivering = false;
                invalidate();
                return;
            }
            if (deliver)
                deliver(message);
        }
        delivering = false;
    }

    void flush() {
        while (outboxSent < outbox.size()) {
            ssize_t n = ::send(fd, outbox.data() + outboxSent, outbox.size() - outboxSent, MSG_NOSIGNAL);
            if (n > 0) {
                outboxSent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n < 0 && errno == EINTR)
                continue;
            // What the peer wrote before it went is still delivered (it may be the last message it sent
            // before closing); reading to its end reports the peer gone.
            if (!suspended) {
                readAvailable(true);
                if (state != State::connected)
                    return;
            }
            peerGone();
            return;
        }
        if (outboxSent == outbox.size()) {
            outbox.clear();
            outboxSent = 0;
            if (closing) {
                finishClosing();
                return;
            }
        }
        updateWatch();
    }

    void enqueue(platform::Bytes frame) {
        if (state == State::invalidated)
            return;
        std::size_t limit;
        {
            std::lock_guard lock(mutex);
            limit = sendQueueLimit;
        }
        // A peer that does not read must not make this process hold whatever is sent to it.
        if (outbox.size() - outboxSent + frame.size() > limit) {
            invalidate();
            return;
        }
        if (outboxSent > 0 && outboxSent >= outbox.size() / 2) {
            // Written bytes go once they are half the buffer: a peer that reads slowly but steadily keeps the
            // buffer near what is still to be written.
            outbox.erase(outbox.begin(), outbox.begin() + static_cast<std::ptrdiff_t>(outboxSent));
            outboxSent = 0;
        }
        outbox.insert(outbox.end(), frame.begin(), frame.end());
        if (state == State::connected) {
            flush();
        } else if (state == State::interrupted) {
            beginConnect();
        }
    }

    void peerGone() {
        if (closing) {
            finishClosing();
            return;
        }
        if (kind == Kind::service && state == State::connected) {
            closeSocket();
            inbox.clear();
            state = State::interrupted;
            std::function<void()> interrupted;
            {
                std::lock_guard lock(mutex);
                interrupted = interruptionHandler;
            }
            if (interrupted)
                interrupted();
            return;
        }
        invalidate();
    }

    void invalidate() {
        if (state == State::invalidated)
            return;
        auto self = shared_from_this();
        state = State::invalidated;
        invalidated = true;
        closeSocket();
        inbox.clear();
        std::function<void()> invalidatedHandler;
        {
            std::lock_guard lock(mutex);
            invalidatedHandler = std::move(invalidationHandler);
            invalidationHandler = nullptr;
            interruptionHandler = nullptr;
            handler = nullptr;
        }
        if (auto hook = std::move(onInvalidated))
            hook();
        onInvalidated = nullptr;
        if (closing) {
            closing = false;
            reactor.cancelTimer(closeTimerID);
        }
        if (invalidatedHandler)
            invalidatedHandler();
    }

    void closeSilently() {
        state = State::invalidated;
        invalidated = true;
        closeSocket();
        inbox.clear();
        clearHandlers();
        // Not a handler: the accepting listener forgets the connection.
        if (auto hook = std::move(onInvalidated))
            hook();
        onInvalidated = nullptr;
    }
};

Connection::Connection(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

Connection::~Connection() {
    auto impl = impl_;
    impl_->reactor.post([impl] {
        if (!impl->closing)  // closeAfterSending() closes it once its messages are written
            impl->closeSilently();
    });
}

std::shared_ptr<Connection> Connection::toService(Reactor& reactor, std::string serviceName) {
    auto impl = std::make_shared<Impl>(reactor, Impl::Kind::service);
    impl->serviceName = serviceName;
    try {
        impl->path = servicePath(serviceName);
    } catch (const XPCError&) {
        impl->path.clear();  // resume() then invalidates it, as for any unreachable service
    }
    return std::make_shared<Connection>(impl);
}

std::shared_ptr<Connection> Connection::toEndpoint(Reactor& reactor, Endpoint endpoint) {
    auto impl = std::make_shared<Impl>(reactor, Impl::Kind::endpoint);
    // Only listeners of this user's service folder are endpoints; any other path never connects.
    try {
        std::filesystem::path path(endpoint.path);
        if (path.is_absolute() && path.parent_path() == serviceFolder() &&
            path.filename().native().rfind("a-", 0) == 0)
            impl->path = path;
    } catch (const XPCError&) {
    }
    return std::make_shared<Connection>(impl);
}

void Connection::setRemoteInterface(Interface remote) {
    std::lock_guard lock(impl_->mutex);
    impl_->remote = std::move(remote);
    impl_->hasRemote = true;
}

void Connection::setExportedInterface(Interface exported, MessageHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->exported = std::move(exported);
    impl_->handler = std::move(handler);
}

void Connection::setInterruptionHandler(std::function<void()> handler) {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->invalidated)
        impl_->interruptionHandler = std::move(handler);
}

void Connection::setInvalidationHandler(std::function<void()> handler) {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->invalidated)
        impl_->invalidationHandler = std::move(handler);
}

void Connection::setPeerRequirement(PeerRequirement requirement) {
    std::lock_guard lock(impl_->mutex);
    impl_->requirement = requirement;
}

void Connection::setLaunchWaitLimit(std::chrono::milliseconds limit) {
    std::lock_guard lock(impl_->mutex);
    impl_->launchWaitLimit = limit;
}

void Connection::setCloseAfterSendingLimit(std::chrono::milliseconds limit) {
    std::lock_guard lock(impl_->mutex);
    impl_->closeAfterSendingLimit = limit;
}

void Connection::setSendQueueLimit(std::size_t bytes) {
    std::lock_guard lock(impl_->mutex);
    impl_->sendQueueLimit = std::max(bytes, smallestSendQueueLimit);
}

void Connection::setDefaultSendQueueLimit(std::size_t bytes) {
    defaultSendQueueLimit = std::max(bytes, smallestSendQueueLimit);
}

void Connection::resume() {
    auto impl = impl_;
    impl_->reactor.post([impl] { impl->resume(); });
}

void Connection::suspend() {
    auto impl = impl_;
    impl_->reactor.post([impl] { impl->suspend(); });
}

void Connection::invalidate() {
    auto impl = impl_;
    impl_->reactor.post([impl] { impl->invalidate(); });
}

void Connection::closeAfterSending() {
    // At once, not on the reactor: no handler may start between this call and the posted work.
    impl_->clearHandlers();
    auto impl = impl_;
    impl_->reactor.post([impl] { impl->closeAfterSending(); });
}

bool Connection::send(Message message) {
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->hasRemote || !impl_->remote.accepts(message))
            return false;
    }
    platform::Bytes frame;
    try {
        frame = encodeFrame(message);
    } catch (const std::length_error&) {
        return false;
    }
    auto impl = impl_;
    impl_->reactor.post([impl, frame = std::move(frame)]() mutable { impl->enqueue(std::move(frame)); });
    return true;
}

std::string Connection::remoteInterfaceName() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->hasRemote ? impl_->remote.name() : std::string();
}

bool Connection::isInvalidated() const {
    return impl_->invalidated;
}

std::optional<PeerCredentials> Connection::peer() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->credentials;
}

namespace internal {

std::shared_ptr<Connection> acceptedConnection(Reactor& reactor, int fd, PeerCredentials peer,
                                               std::chrono::milliseconds firstMessageLimit,
                                               std::function<void(const Connection::Impl*)> onInvalidated) {
    auto impl = std::make_shared<Connection::Impl>(reactor, Connection::Impl::Kind::accepted);
    impl->fd = fd;
    impl->credentials = peer;
    auto connection = std::make_shared<Connection>(impl);
    Connection::Impl* raw = impl.get();
    impl->onInvalidated = [onInvalidated = std::move(onInvalidated), raw] { onInvalidated(raw); };
    impl->awaitFirstMessage(firstMessageLimit);
    return connection;
}

void invalidateOnReactor(const Connection& connection) {
    connection.implementation()->invalidate();
}

}  // namespace internal

}  // namespace xpc
