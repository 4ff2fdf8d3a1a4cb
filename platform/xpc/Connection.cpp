#include "platform/xpc/Connection.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>

#include "platform/LaunchAgent.h"
#include "platform/PrivateFolder.h"

namespace xpc {

namespace {

constexpr std::chrono::milliseconds connectRetryInterval{20};
constexpr std::size_t readChunk = 64 * 1024;

bool fillAddress(const std::filesystem::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

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

std::string randomName() {
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    std::lock_guard lock(mutex);
    char text[19];
    std::snprintf(text, sizeof text, "a-%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

}  // namespace

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
    auto folder = platform::runtimeFolder("quorvane-xpc");
    if (!platform::ensurePrivateFolder(folder))
        throw XPCError(XPCError::Code::serviceFolderUnavailable,
                       "the service folder is not usable: " + folder.native());
    return folder;
}

std::filesystem::path servicePath(const std::string& serviceName) {
    if (!isValidServiceName(serviceName))
        throw XPCError(XPCError::Code::invalidName, "invalid service name: " + serviceName);
    return serviceFolder() / serviceName;
}

// ---------------------------------------------------------------------------------------------------------------
// Connection

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
        if (!fillAddress(path, address)) {
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

    void readAvailable() {
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
                if (static_cast<std::size_t>(n) < sizeof chunk)
                    break;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n < 0 && errno == EINTR)
                continue;
            deliverInbox();
            peerGone();
            return;
        }
        deliverInbox();
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
                readAvailable();
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

// ---------------------------------------------------------------------------------------------------------------
// Listener

struct Listener::Impl : std::enable_shared_from_this<Impl> {
    explicit Impl(Reactor& reactor) : reactor(reactor) {}
    ~Impl() { closeSocket(); }

    Reactor& reactor;
    std::filesystem::path path;
    int fd = -1;
    int lockFD = -1;

    mutable std::mutex mutex;
    Delegate delegate;
    PeerRequirement requirement = PeerRequirement::sameUser();

    // Reactor thread only.
    bool suspended = true;
    bool invalidated = false;
    Reactor::WatchID watchID = 0;
    Reactor::TimerID retryTimer = 0;  // set while accepting waits out a shortage of descriptors
    std::vector<std::shared_ptr<Connection>> accepted;

    // How long the listener stops watching its socket after accept() failed for want of resources.
    static constexpr std::chrono::milliseconds acceptRetryDelay{100};

    void bind(const std::filesystem::path& socketPath) {
        sockaddr_un address;
        if (!fillAddress(socketPath, address))
            throw XPCError(XPCError::Code::pathTooLong, "socket path too long: " + socketPath.native());
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            throw XPCError(XPCError::Code::socketFailure, std::strerror(errno));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            int error = errno;
            ::close(fd);
            fd = -1;
            if (error == EADDRINUSE)
                throw XPCError(XPCError::Code::serviceInUse, socketPath.native());
            throw XPCError(XPCError::Code::socketFailure, std::strerror(error));
        }
        path = socketPath;
        if (::listen(fd, 64) != 0) {
            int error = errno;
            closeSocket();
            throw XPCError(XPCError::Code::socketFailure, std::strerror(error));
        }
    }

    void closeSocket() {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.c_str());
        }
        fd = -1;
        if (lockFD >= 0)
            ::close(lockFD);
        lockFD = -1;
    }

    void resume() {
        if (invalidated)
            return;
        suspended = false;
        if (!watchID) {
            std::weak_ptr<Impl> weak = shared_from_this();
            watchID = reactor.watch(fd, Reactor::readable, [weak](unsigned) {
                if (auto self = weak.lock())
                    self->acceptAll();
            });
        }
    }

    void suspend() {
        suspended = true;
        if (watchID)
            reactor.unwatch(watchID);
        watchID = 0;
        if (retryTimer)
            reactor.cancelTimer(retryTimer);
        retryTimer = 0;
    }

    // The pending connection stays queued and keeps the socket readable: watching it while accept() cannot
    // succeed (out of descriptors or memory) would wake the reactor at once, again and again. Stop watching
    // for a moment instead; the clients wait in the backlog meanwhile.
    void waitBeforeAccepting() {
        if (retryTimer || !watchID)
            return;
        reactor.updateWatch(watchID, 0);
        std::weak_ptr<Impl> weak = shared_from_this();
        retryTimer = reactor.startTimer(acceptRetryDelay, [weak] {
            auto self = weak.lock();
            if (!self)
                return;
            self->retryTimer = 0;
            if (self->watchID && !self->suspended && !self->invalidated)
                self->reactor.updateWatch(self->watchID, Reactor::readable);
        });
    }

    void acceptAll() {
        auto self = shared_from_this();
        while (!suspended && !invalidated) {
            int client = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    waitBeforeAccepting();  // EMFILE, ENFILE, ENOBUFS, ENOMEM or another lasting failure
                return;
            }
            auto peer = peerCredentials(client);
            Delegate accept;
            PeerRequirement wanted;
            {
                std::lock_guard lock(mutex);
                accept = delegate;
                wanted = requirement;
            }
            if (!peer || !wanted.isSatisfiedBy(*peer) || !accept) {
                ::close(client);
                continue;
            }
            auto impl = std::make_shared<Connection::Impl>(reactor, Connection::Impl::Kind::accepted);
            impl->fd = client;
            impl->credentials = peer;
            auto connection = std::make_shared<Connection>(impl);
            std::weak_ptr<Impl> weakListener = self;
            Connection::Impl* raw = impl.get();
            impl->onInvalidated = [weakListener, raw] {
                if (auto listener = weakListener.lock())
                    std::erase_if(listener->accepted,
                                  [raw](const auto& c) { return c->implementation().get() == raw; });
            };
            if (accept(connection) && !impl->invalidated)
                accepted.push_back(connection);
        }
    }

    void invalidate() {
        if (invalidated)
            return;
        invalidated = true;
        suspend();
        closeSocket();
        auto connections = std::move(accepted);
        accepted.clear();
        for (auto& connection : connections)
            connection->implementation()->invalidate();
        std::lock_guard lock(mutex);
        delegate = nullptr;
    }

    void closeSilently() {
        invalidated = true;
        suspend();
        closeSocket();
        accepted.clear();
        std::lock_guard lock(mutex);
        delegate = nullptr;
    }
};

Listener::Listener(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

Listener::~Listener() {
    auto impl = impl_;
    impl_->reactor.post([impl] { impl->closeSilently(); });
}

std::shared_ptr<Listener> Listener::forService(Reactor& reactor, const std::string& serviceName) {
    auto path = servicePath(serviceName);
    auto impl = std::make_shared<Impl>(reactor);
    // The lock file decides which listener owns the name; a socket left by a listener that died is stale.
    auto lockPath = serviceFolder() / ("." + serviceName + ".lock");
    impl->lockFD = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (impl->lockFD < 0)
        throw XPCError(XPCError::Code::socketFailure, std::strerror(errno));
    if (::flock(impl->lockFD, LOCK_EX | LOCK_NB) != 0) {
        ::close(impl->lockFD);
        impl->lockFD = -1;
        throw XPCError(XPCError::Code::serviceInUse, serviceName);
    }
    ::unlink(path.c_str());
    impl->bind(path);
    return std::make_shared<Listener>(impl);
}

std::shared_ptr<Listener> Listener::anonymous(Reactor& reactor) {
    auto folder = serviceFolder();
    for (int attempt = 0;; ++attempt) {
        auto impl = std::make_shared<Impl>(reactor);
        try {
            impl->bind(folder / randomName());
            return std::make_shared<Listener>(impl);
        } catch (const XPCError& error) {
            if (error.code() != XPCError::Code::serviceInUse || attempt > 8)
                throw;
        }
    }
}

std::shared_ptr<Listener> Listener::atPath(Reactor& reactor, const std::filesystem::path& path) {
    auto impl = std::make_shared<Impl>(reactor);
    impl->bind(path);
    return std::make_shared<Listener>(impl);
}

Endpoint Listener::endpoint() const {
    return Endpoint{impl_->path.native()};
}

void Listener::setDelegate(Delegate delegate) {
    std::lock_guard lock(impl_->mutex);
    impl_->delegate = std::move(delegate);
}

void Listener::setPeerRequirement(PeerRequirement requirement) {
    std::lock_guard lock(impl_->mutex);
    impl_->requirement = requirement;
}

void Listener::resume() {
    auto impl = impl_;
    impl_->reactor.post([impl] { impl->resume(); });
}

void Listener::suspend() {
    auto impl = impl_;
    impl_->reactor.post([impl] { impl->suspend(); });
}

void Listener::invalidate() {
    auto impl = impl_;
    impl_->reactor.post([impl] { impl->invalidate(); });
}

}  // namespace xpc
