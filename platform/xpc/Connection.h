#pragma once
// Connections and listeners of the XPC stand-in, on Unix stream sockets (listeners in Listener.h).
//
// - A named service listens on "<service folder>/<service name>"; the service folder is "quorvane-xpc" in the
//   user's runtime folder (platform/UserFolders), mode 0700 and owned by the user. A lock file next to the
//   socket keeps a second listener of the same name out.
// - An anonymous listener listens on a fresh path in the same folder; that path is its Endpoint, which
// travels
//   in messages as a string. A connection to an endpoint only goes to paths inside the service folder.
// - Connections start suspended: resume() connects (or, for accepted connections, starts reading). Messages
//   are one-way; send() queues them until the connection is up and drops them once it is invalidated.
// - A connection to a service that has no listener starts the launch agent registered for the service
//   (platform/LaunchAgent) once and retries for a while, as a service manager would; without one it is
//   invalidated.
// - A service connection whose peer goes away is interrupted (the next send connects again); every other
//   connection is invalidated. Handlers run on the reactor's thread; the invalidation handler runs at most
//   once.
// - The peer check (SO_PEERCRED, same user by default) is applied before any message is delivered: a peer
// that
//   fails it is cut off. Malformed or oversized frames, and messages outside the exported interface, close
//   the connection.
// - No peer holds more than its share: a connection reads a bounded amount per turn of the reactor and
//   delivers what it has read at once, so a peer that keeps sending never keeps the others waiting; a peer
//   that does not read gets its connection invalidated once more than the send-queue limit waits for it; a
//   listener closes clients beyond its connection limit at once, and, when asked, accepted connections that
//   send no message in time.
// - Dropping the last handle of a connection or listener closes it without calling its handlers.
#include <sys/types.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/xpc/Message.h"
#include "platform/xpc/Reactor.h"

namespace xpc {

class XPCError : public std::exception {
  public:
    enum class Code { serviceFolderUnavailable, pathTooLong, serviceInUse, invalidName, socketFailure };
    XPCError(Code code, std::string detail);
    Code code() const { return code_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    Code code_;
    std::string text_;
};

struct Endpoint {
    std::string path;
    bool operator==(const Endpoint&) const = default;
};

struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Stands in for a code-signing requirement: the peer's user id.
struct PeerRequirement {
    uid_t uid;
    static PeerRequirement sameUser();
    bool isSatisfiedBy(const PeerCredentials& peer) const { return peer.uid == uid; }
};

// The credentials of the process at the other end of a connected Unix socket.
std::optional<PeerCredentials> peerCredentials(int fd);

// The service folder (made with mode 0700 when missing; refused when it is not the user's own private
// folder).
std::filesystem::path serviceFolder();
std::filesystem::path servicePath(const std::string& serviceName);

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    struct Impl;
    using MessageHandler = std::function<void(const Message&)>;

    static std::shared_ptr<Connection> toService(Reactor& reactor, std::string serviceName);
    static std::shared_ptr<Connection> toEndpoint(Reactor& reactor, Endpoint endpoint);
    ~Connection();

    // Set these before resume().
    void setRemoteInterface(Interface remote);
    void setExportedInterface(Interface exported, MessageHandler handler);
    void setInterruptionHandler(std::function<void()> handler);
    void setInvalidationHandler(std::function<void()> handler);
    void setPeerRequirement(PeerRequirement requirement);
    // How long a service connection waits for a launched agent to listen (default 10 s).
    void setLaunchWaitLimit(std::chrono::milliseconds limit);
    // How long closeAfterSending() waits for a peer that does not read (default 10 s).
    void setCloseAfterSendingLimit(std::chrono::milliseconds limit);
    // The most bytes that may wait to be written to the peer; a message that would go beyond it invalidates
    // the connection instead. Never below one frame of the largest size. New connections take the process's
    // default, standardSendQueueLimit unless a program sets its own (at start, before it makes connections).
    void setSendQueueLimit(std::size_t bytes);
    static constexpr std::size_t standardSendQueueLimit = 8 * 1024 * 1024;
    static void setDefaultSendQueueLimit(std::size_t bytes);

    void resume();
    void suspend();
    void invalidate();
    // Stops delivering messages and closes the connection, without calling its handlers, once the messages
    // sent before are written whole (at once when none is waiting; at most 10 s later when the peer does not
    // read). Dropping the handle afterwards does not cut this short; destroying the reactor does. The
    // handlers are dropped at once: called on the reactor's thread, no handler runs after this returns (from
    // another thread, one the reactor is already dispatching may still finish).
    void closeAfterSending();

    // The remote proxy: false (and nothing sent) without a remote interface or for a message outside it.
    bool send(Message message);
    // The name of the remote interface; empty when none is set.
    std::string remoteInterfaceName() const;
    bool isInvalidated() const;
    // Known once connected.
    std::optional<PeerCredentials> peer() const;

    explicit Connection(std::shared_ptr<Impl> impl);
    const std::shared_ptr<Impl>& implementation() const { return impl_; }

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace xpc

// Listeners come with connections: whoever uses one uses the other.
#include "platform/xpc/Listener.h"  // IWYU pragma: export
