#pragma once
// The token's relay client: carries one signing request to the app and back. It waits for its turn (one
// exchange at a time for the user), opens the app with its sign deep link, connects to the relay, registers
// as the token client, waits for the app's ready signal, sends the hash and waits for the signature.
//
// The request runs wholly on its calling thread, without threads of its own (applications may forbid them):
// its connections and listener live on an event loop that the request runs until it ends, and the waits of
// the exchange are timers on that loop. The relay's messages set the flags of the request and take it on as
// far as the flags allow, as a loop that tests the flags between waits would. A new client is made for every
// request.
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "outside/Logger/LoggerClient.h"
#include "platform/Bytes.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Reactor.h"
#include "relay/common/XPCProtocols.h"
#include "relay/token/Cancellation.h"

namespace pellin {

using Clock = std::chrono::steady_clock;
using Duration = std::chrono::duration<double>;

// The client's waits; tests shrink them.
struct Timeouts {
    Duration appReady{30.0};    // connecting, validating, registering and the ready signal together
    Duration signature{300.0};  // from sending the hash
    Duration validation{
        0.1};             // a connection counts as valid when it is not invalidated this long after resume
    Duration retry{1.0};  // wait before connecting again after an invalidation
    // How long a connection waits for an agent that it started to listen (platform/xpc).
    Duration launchWait{10.0};

    // These values multiplied by the factor.
    static Timeouts scaled(double factor);
    // The longest a request waits for the exchange ahead of it: as long as one exchange may last.
    Duration turn() const { return appReady + signature; }
};

class XPCClientLive {
  public:
    // Another thread ends a waiting request through the cancellation; it then returns nothing.
    explicit XPCClientLive(LoggerClient logger, Timeouts timeouts = {},
                           std::shared_ptr<Cancellation> cancellation = nullptr);
    ~XPCClientLive();
    XPCClientLive(const XPCClientLive&) = delete;
    XPCClientLive& operator=(const XPCClientLive&) = delete;

    // The whole exchange; nothing when no signature arrived (time-out, failure signal, no relay, the relay
    // gave the token's place to another request, cancelled). Connection and listener are closed when it
    // returns.
    std::optional<platform::Bytes> requestSignature(const platform::Bytes& data,
                                                    const std::string& instanceID);

    // Steps of the exchange; they run on the request's loop.
    void connectToService();
    void registerAsTokenClient();
    void closeConnection();

    // Messages from the relay (XPCClientToken). A signature or a failure counts only once this request has
    // sent its hash: one that comes before is another exchange's, and is ignored.
    void appIsReady();
    void signatureReadyWithSignature(const platform::Bytes& signature);
    void signatureFailed();

    bool listenerShouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& connection);

  private:
    class ExportedObject;
    enum class Step { connecting, waitingForApp, waitingForSignature, ended };

    // Takes the request on from the step it is in, as far as its flags and deadline allow.
    void proceed();
    // Takes the request on again when the deadline is reached (one deadline timer at a time).
    void waitUntil(Clock::time_point deadline);
    void relayConnectionEnded(const std::shared_ptr<xpc::Connection>& ended);
    // The relay has let this request go (another token took its place) or has gone.
    void relayEnded();
    void cancelled();
    // Closes the connection and the listener, then stops the loop.
    void end();

    std::shared_ptr<xpc::Connection> connection;
    std::shared_ptr<xpc::Listener> tokenListener;
    Clock::time_point timeoutDate = Clock::now();
    bool xpcConnectionInvalidated = false;
    bool waitingForXPCConnection = false;
    bool waitingForApp = false;
    bool waitingForSignature = false;
    std::optional<platform::Bytes> receivedSignature;
    LoggerClient logger;

    Timeouts timeouts_;
    std::shared_ptr<Cancellation> cancellation_;
    std::shared_ptr<ExportedObject> exported_;
    // While a request runs, all below is used on its loop only.
    xpc::PollReactor* loop_ = nullptr;
    Step step_ = Step::ended;
    platform::Bytes data_;
    std::string instanceID_;
    std::optional<relay::XPCServiceProxy> service_;
    std::shared_ptr<xpc::Connection> relayConnection_;  // the relay's connection back to the listener
    std::optional<xpc::Reactor::TimerID> deadlineTimer_;
    std::optional<xpc::Reactor::TimerID> validationTimer_;
    std::optional<xpc::Reactor::TimerID> retryTimer_;
    std::optional<xpc::Reactor::WatchID> cancellationWatch_;
};

}  // namespace pellin
