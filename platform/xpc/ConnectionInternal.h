#pragma once
// What the listener needs of connections beyond their public interface (platform/xpc only).
#include <sys/un.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/xpc/Connection.h"

namespace xpc::internal {

// False when the path does not fit a Unix socket address.
bool fillAddress(const std::filesystem::path& path, sockaddr_un& address);

// A connection on a client socket that a listener accepted; it takes the descriptor. Invalidated when no
// message arrives within the limit (zero: it may wait for ever). `onInvalidated` is the listener's
// bookkeeping, not a handler: it runs once the connection is invalidated or closed, with its implementation.
std::shared_ptr<Connection> acceptedConnection(Reactor& reactor, int fd, PeerCredentials peer,
                                               std::chrono::milliseconds firstMessageLimit,
                                               std::function<void(const Connection::Impl*)> onInvalidated);

// Invalidates the connection at once; on the reactor's thread only.
void invalidateOnReactor(const Connection& connection);

}  // namespace xpc::internal
