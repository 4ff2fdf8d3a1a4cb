#include "platform/xpc/Listener.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "platform/xpc/ConnectionInternal.h"

namespace xpc {

namespace {

std::string randomName() {
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    std::lock_guard lock(mutex);
    char text[19];
    std::snprintf(text, sizeof text, "a-%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

}  // namespace

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
    std::size_t connectionLimit = standardConnectionLimit;
    std::chrono::milliseconds firstMessageLimit{0};

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
        if (!internal::fillAddress(socketPath, address))
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
            std::size_t limit;
            std::chrono::milliseconds firstMessageWait;
            {
                std::lock_guard lock(mutex);
                accept = delegate;
                wanted = requirement;
                limit = connectionLimit;
                firstMessageWait = firstMessageLimit;
            }
            // Closed at once beyond the limit, rather than left waiting: the client learns it, and the
            // listener keeps taking clients, so it is reachable again as soon as connections end.
            if (!peer || !wanted.isSatisfiedBy(*peer) || !accept || accepted.size() >= limit) {
                ::close(client);
                continue;
            }
            std::weak_ptr<Impl> weakListener = self;
            auto connection = internal::acceptedConnection(
                reactor, client, *peer, firstMessageWait, [weakListener](const Connection::Impl* raw) {
                    if (auto listener = weakListener.lock())
                        std::erase_if(listener->accepted,
                                      [raw](const auto& c) { return c->implementation().get() == raw; });
                });
            if (accept(connection) && !connection->isInvalidated())
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
            internal::invalidateOnReactor(*connection);
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

void Listener::setConnectionLimit(std::size_t limit) {
    std::lock_guard lock(impl_->mutex);
    impl_->connectionLimit = limit;
}

void Listener::setFirstMessageLimit(std::chrono::milliseconds limit) {
    std::lock_guard lock(impl_->mutex);
    impl_->firstMessageLimit = limit;
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
