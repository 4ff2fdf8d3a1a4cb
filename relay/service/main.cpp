// Brokel, the signing relay: a per-user agent that pairs the token and the app and forwards the messages of
// each signature exchange between them. Started on demand by its launch agent; runs until it is stopped.
#include <chrono>
#include <csignal>
#include <string>

#include "platform/Workspace.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Reactor.h"
#include "relay/common/XPCProtocols.h"
#include "relay/service/XPCLogger.h"
#include "relay/service/XPCServerHelper.h"

namespace {

using namespace std::chrono_literals;

// What one peer may make the relay hold. Its messages are a few hundred bytes: an app or token that lets 1
// MiB pile up is not reading. Clients register at once (the token waits 0.1 s first), and one exchange needs
// two of them; the limits keep a flood of idle connections from using up the relay's descriptors.
constexpr std::size_t sendQueueLimit = 1024 * 1024;
constexpr auto registrationLimit = 5s;
constexpr std::size_t connectionLimit = 64;

}  // namespace

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    xpc::Connection::setDefaultSendQueueLimit(sendQueueLimit);
    static relay::XPCLogger logger;
    logger.log("*************** New XPC server process started ***************");

    platform::Workspace::open("quorvane://");

    static xpc::PollReactor reactor;
    static relay::XPCListenerDelegate delegate(logger, reactor);
    logger.log("Delegate created");

    std::shared_ptr<xpc::Listener> listener;
    try {
        listener = xpc::Listener::forService(reactor, relay::machServiceName);
    } catch (const xpc::XPCError& error) {
        // Another relay already serves the name (or the runtime folder is unusable): nothing to do here.
        logger.log(std::string("Cannot listen for XPC connections: ") + error.what(),
                   relay::XPCLogType::error);
        return 1;
    }
    logger.log("Listener created");

    listener->setDelegate([](const std::shared_ptr<xpc::Connection>& connection) {
        return delegate.shouldAcceptNewConnection(connection);
    });
    listener->setPeerRequirement(relay::peerRequirement());
    listener->setConnectionLimit(connectionLimit);
    listener->setFirstMessageLimit(registrationLimit);
    listener->resume();
    logger.log("Listener resumed");

    reactor.run();
    return 0;
}
