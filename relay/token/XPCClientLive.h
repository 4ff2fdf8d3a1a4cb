#pragma once
// The token's relay client: carries one signing request to the app and back. It opens the app with its sign
// deep link, connects to the relay, registers as the token client, waits for the app's ready signal, sends
// the hash and waits for the signature. The request blocks its calling thread; the relay's messages arrive on
// the client's own XPC thread and only set flags, which the caller waits for on a condition variable with
// deadlines. A new client is made for every request.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "outside/Logger/LoggerClient.h"
#include "platform/Bytes.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Reactor.h"

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
};

// Lets the waits of RunLoopTimers end early when their client goes away.
class WaitCancellation {
  public:
    void cancel();
    bool isCancelled() const;
    // Waits until the time or the cancellation; true when the time was reached.
    bool waitUntil(Clock::time_point endDate);

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool cancelled_ = false;
};

// A blocking wait: run() waits until endDate, then calls the callback (not when cancelled meanwhile).
class RunLoopTimer {
  public:
    RunLoopTimer(Clock::time_point endDate, std::function<void()> callback,
                 std::shared_ptr<WaitCancellation> cancellation);
    void run();

    Clock::time_point endDate;
    std::function<void()> callback;

  private:
    std::shared_ptr<WaitCancellation> cancellation_;
};

class XPCClientLive {
  public:
    explicit XPCClientLive(LoggerClient logger, Timeouts timeouts = Timeouts::scaled(1.0));
    ~XPCClientLive();
    XPCClientLive(const XPCClientLive&) = delete;
    XPCClientLive& operator=(const XPCClientLive&) = delete;

    // The whole exchange; nothing when no signature arrived (time-out, failure signal, no relay).
    std::optional<platform::Bytes> requestSignature(const platform::Bytes& data,
                                                    const std::string& instanceID);

    void connectToService();
    void registerAsTokenClient();
    void closeConnection();

    // Messages from the relay (XPCClientToken).
    void appIsReady();
    void signatureReadyWithSignature(const platform::Bytes& signature);
    void signatureFailed();

    bool listenerShouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& connection);

  private:
    class SerialQueue;
    class ExportedObject;

    // Waits until the flag is cleared or the deadline passes; true when it was cleared.
    bool waitWhile(bool XPCClientLive::*flag, Clock::time_point deadline);

    std::mutex mutex_;  // guards the fields below
    std::condition_variable changed_;
    std::shared_ptr<xpc::Connection> connection;
    std::shared_ptr<xpc::Listener> tokenListener;
    std::shared_ptr<RunLoopTimer> connectionValidationTimer;
    std::shared_ptr<RunLoopTimer> retryConnectionTimer;
    Clock::time_point timeoutDate = Clock::now();
    bool xpcConnectionInvalidated = false;
    bool waitingForXPCConnection = false;
    bool waitingForApp = false;
    bool waitingForSignature = false;
    std::optional<platform::Bytes> receivedSignature;
    LoggerClient logger;

    Timeouts timeouts_;
    std::shared_ptr<WaitCancellation> cancellation_ = std::make_shared<WaitCancellation>();
    std::optional<xpc::ReactorThread> xpcThread_;
    std::unique_ptr<SerialQueue> retryQueue_;
    std::shared_ptr<ExportedObject> exported_;
};

}  // namespace pellin
