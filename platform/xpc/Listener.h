#pragma once
// Listeners of the XPC stand-in: a named service or an anonymous endpoint, handing each connection that
// passes the peer check to its delegate (see Connection.h for the whole picture).
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/xpc/Connection.h"
#include "platform/xpc/Reactor.h"

namespace xpc {

class Listener {
  public:
    struct Impl;
    // Called on the reactor thread for each new connection that passed the peer check; the delegate sets it
    // up, resumes it and returns true to keep it. The listener keeps accepted connections until they are
    // invalidated, and invalidates them when it is invalidated itself.
    using Delegate = std::function<bool(const std::shared_ptr<Connection>&)>;

    // Throws XPCError (serviceInUse when another listener holds the name).
    static std::shared_ptr<Listener> forService(Reactor& reactor, const std::string& serviceName);
    static std::shared_ptr<Listener> anonymous(Reactor& reactor);
    // A listener on a given socket path (tests use it for a socket that other users can reach).
    static std::shared_ptr<Listener> atPath(Reactor& reactor, const std::filesystem::path& path);
    ~Listener();

    Endpoint endpoint() const;
    void setDelegate(Delegate delegate);
    void setPeerRequirement(PeerRequirement requirement);
    // At most this many accepted connections are kept at a time (default standardConnectionLimit); a client
    // beyond them is closed at once.
    void setConnectionLimit(std::size_t limit);
    static constexpr std::size_t standardConnectionLimit = 256;
    // An accepted connection that has sent no message this long after it was accepted is invalidated (default
    // zero: it may wait for ever).
    void setFirstMessageLimit(std::chrono::milliseconds limit);
    void resume();
    void suspend();
    void invalidate();

    explicit Listener(std::shared_ptr<Impl> impl);

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace xpc
