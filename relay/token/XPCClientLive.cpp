#include "relay/token/XPCClientLive.h"

#include "platform/Workspace.h"
#include "relay/token/ExchangeTurn.h"

namespace pellin {

namespace {

Clock::time_point after(Duration duration) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(duration);
}

// A timer delay that ends at or after the time point (timers count whole milliseconds).
std::chrono::milliseconds until(Clock::time_point time) {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::ceil<std::chrono::milliseconds>(time - Clock::now()));
}

std::chrono::milliseconds milliseconds(Duration duration) {
    return std::chrono::ceil<std::chrono::milliseconds>(duration);
}

}  // namespace

Timeouts Timeouts::scaled(double factor) {
    Timeouts t;
    t.appReady *= factor;
    t.signature *= factor;
    t.validation *= factor;
    t.retry *= factor;
    t.launchWait *= factor;
    return t;
}

class XPCClientLive::ExportedObject : public relay::XPCClientToken {
  public:
    explicit ExportedObject(XPCClientLive* client) : client_(client) {}
    void appIsReady() override { client_->appIsReady(); }
    void signatureReadyWithSignature(const platform::Bytes& signature) override {
        client_->signatureReadyWithSignature(signature);
    }
    void signatureFailed() override { client_->signatureFailed(); }

  private:
    XPCClientLive* client_;
};

XPCClientLive::XPCClientLive(LoggerClient logger, Timeouts timeouts,
                             std::shared_ptr<Cancellation> cancellation)
    : logger(std::move(logger)),
      timeouts_(timeouts),
      cancellation_(cancellation ? std::move(cancellation) : std::make_shared<Cancellation>()),
      exported_(std::make_shared<ExportedObject>(this)) {}

XPCClientLive::~XPCClientLive() = default;

std::optional<platform::Bytes> XPCClientLive::requestSignature(const platform::Bytes& data,
                                                               const std::string& instanceID) {
    logger.info("--------------- New signing request ---------------");
    const std::string url = "quorvane://sign";

    ExchangeTurn turn;
    switch (turn.take(after(timeouts_.turn()), *cancellation_,
                      [this] { logger.info("Waiting for the signing request in progress to end"); })) {
        case ExchangeTurn::Outcome::taken:
            break;
        case ExchangeTurn::Outcome::timedOut:
            logger.error("Process timed out and will be interrupted");
            return std::nullopt;
        case ExchangeTurn::Outcome::cancelled:
            logger.error("Signing request cancelled");
            return std::nullopt;
    }

    auto loop = std::make_unique<xpc::PollReactor>();
    loop_ = loop.get();
    data_ = data;
    instanceID_ = instanceID;
    step_ = Step::connecting;
    timeoutDate = after(timeouts_.appReady);
    waitingForXPCConnection = true;
    waitingForApp = true;
    waitingForSignature = true;
    receivedSignature.reset();

    logger.info("Opening UI tool in sign mode");
    platform::Workspace::open(url);

    loop_->post([this] {
        cancellationWatch_ = loop_->watch(cancellation_->descriptor(), xpc::Reactor::readable,
                                          [this](unsigned) { cancelled(); });
        logger.info("Waiting for XPC connection validation");
        connectToService();
        waitUntil(timeoutDate);
    });
    try {
        loop->run();
    } catch (const std::exception& error) {
        logger.error(std::string("The signing request's event loop failed: ") + error.what());
        // What is attached to the loop cannot be closed without it running: leave both to the process.
        [[maybe_unused]] auto* abandoned = loop.release();
        step_ = Step::ended;
        receivedSignature.reset();
    }
    // end() has closed the connection and the listener on the loop; what is left of them goes with it.
    connection.reset();
    tokenListener.reset();
    service_.reset();
    relayConnection_.reset();
    loop_ = nullptr;
    return receivedSignature;
}

void XPCClientLive::waitUntil(Clock::time_point deadline) {
    if (deadlineTimer_)
        loop_->cancelTimer(*deadlineTimer_);
    deadlineTimer_ = loop_->startTimer(until(deadline), [this] {
        deadlineTimer_.reset();
        proceed();
    });
}

void XPCClientLive::proceed() {
    if (step_ == Step::connecting) {
        if (waitingForXPCConnection) {
            if (Clock::now() >= timeoutDate) {
                logger.error("Process timed out and will be interrupted");
                end();
            }
            return;
        }
        registerAsTokenClient();
        service_ = relay::XPCServiceProxy::remoteObjectProxy(connection);
        if (!service_) {
            end();
            return;
        }
        logger.info("Waiting for UI tool ready signal");
        step_ = Step::waitingForApp;
    }
    if (step_ == Step::waitingForApp) {
        if (waitingForApp) {
            if (Clock::now() >= timeoutDate) {
                logger.error("Process timed out and will be interrupted");
                end();
            }
            return;
        }
        logger.info("Sending sign request to XPC service and waiting for signature");
        timeoutDate = after(timeouts_.signature);
        waitUntil(timeoutDate);
        service_->sendSignHashRequest(data_, instanceID_);
        step_ = Step::waitingForSignature;
    }
    if (step_ == Step::waitingForSignature) {
        if (waitingForSignature) {
            if (Clock::now() >= timeoutDate) {
                logger.error("Process timed out and will be interrupted");
                logger.error("Signature request timed out");
                service_->sendSignRequestTimeout();
                end();
            }
            return;
        }
        end();
    }
}

void XPCClientLive::connectToService() {
    logger.info("Attempting XPC connection");
    xpcConnectionInvalidated = false;
    auto newConnection = xpc::Connection::toService(*loop_, relay::machServiceName);
    newConnection->setRemoteInterface(relay::xpcServiceInterface());
    newConnection->setLaunchWaitLimit(milliseconds(timeouts_.launchWait));
    newConnection->setInterruptionHandler([this] {
        logger.error("XPC connection interrupted");
        // The relay has gone, and its registration of this client with it: nothing more comes for this
        // request. Its connection back may not have been made yet, so this is the only sign of it.
        if (step_ == Step::waitingForApp || step_ == Step::waitingForSignature)
            relayEnded();
    });
    newConnection->setInvalidationHandler([this] {
        xpcConnectionInvalidated = true;
        logger.error("XPC connection invalidated");
        if (!waitingForXPCConnection || step_ != Step::connecting)
            return;
        logger.info("Re-attempting XPC connection after 1 second");
        retryTimer_ = loop_->startTimer(milliseconds(timeouts_.retry), [this] {
            retryTimer_.reset();
            connectToService();
        });
    });
    connection = newConnection;  // an earlier connection is closed when dropped
    connection->resume();

    // Valid when it has not been invalidated by the end of the validation wait.
    if (validationTimer_)
        loop_->cancelTimer(*validationTimer_);
    validationTimer_ = loop_->startTimer(milliseconds(timeouts_.validation), [this] {
        validationTimer_.reset();
        if (xpcConnectionInvalidated) {
            logger.info("Could not validate connection, it was invalidated in the meantime");
            return;
        }
        logger.info("XPC connection validated");
        waitingForXPCConnection = false;
        proceed();
    });
}

void XPCClientLive::registerAsTokenClient() {
    auto service = relay::XPCServiceProxy::remoteObjectProxy(connection);
    std::shared_ptr<xpc::Listener> listener;
    if (service) {
        try {
            listener = xpc::Listener::anonymous(*loop_);
        } catch (const xpc::XPCError&) {
            service.reset();
        }
    }
    if (!service) {
        logger.error("Cannot register to service, no valid object proxy");
        return;
    }
    logger.info("Registering to XPC service as token client");
    tokenListener = listener;
    tokenListener->setDelegate([this](const std::shared_ptr<xpc::Connection>& accepted) {
        return listenerShouldAcceptNewConnection(accepted);
    });
    tokenListener->resume();
    service->registerFor(tokenListener->endpoint(), static_cast<std::int64_t>(relay::XPCClientRole::token));
}

bool XPCClientLive::listenerShouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& accepted) {
    relay::exportObject(*accepted, std::weak_ptr<relay::XPCClientToken>(exported_));
    accepted->setPeerRequirement(relay::peerRequirement());
    std::weak_ptr<xpc::Connection> weak = accepted;
    accepted->setInvalidationHandler([this, weak] { relayConnectionEnded(weak.lock()); });
    relayConnection_ = accepted;
    accepted->resume();
    return true;
}

void XPCClientLive::closeConnection() {
    if (connection)
        connection->suspend();
    connection.reset();
    if (tokenListener)
        tokenListener->invalidate();
    tokenListener.reset();
}

void XPCClientLive::appIsReady() {
    if (step_ == Step::ended)
        return;
    logger.info("Received UI tool ready signal");
    waitingForApp = false;
    proceed();
}

void XPCClientLive::signatureReadyWithSignature(const platform::Bytes& signature) {
    if (step_ == Step::ended)
        return;
    if (step_ != Step::waitingForSignature) {
        logger.error("Ignored a signature that came before this request sent its hash");
        return;
    }
    logger.info("Received UI tool signature");
    receivedSignature = signature;
    waitingForSignature = false;
    proceed();
}

void XPCClientLive::signatureFailed() {
    if (step_ == Step::ended)
        return;
    if (step_ != Step::waitingForSignature) {
        logger.error("Ignored a failure signal that came before this request sent its hash");
        return;
    }
    logger.error("Received signature failure signal from UI tool");
    waitingForSignature = false;
    proceed();
}

// The relay closes its connection back when another token registers in this one's place, or when it stops:
// either way nothing more comes for this request.
void XPCClientLive::relayConnectionEnded(const std::shared_ptr<xpc::Connection>& ended) {
    if (step_ == Step::ended || !ended || ended != relayConnection_)
        return;
    relayEnded();
}

void XPCClientLive::relayEnded() {
    logger.error("XPC service closed the token connection, the signing request ends");
    end();
}

void XPCClientLive::cancelled() {
    if (step_ == Step::ended)
        return;
    logger.error("Signing request cancelled");
    // The app works on this hash: tell it that nobody waits for the signature any more.
    if (step_ == Step::waitingForSignature)
        service_->sendSignRequestTimeout();
    end();
}

void XPCClientLive::end() {
    step_ = Step::ended;
    for (auto* timer : {&deadlineTimer_, &validationTimer_, &retryTimer_}) {
        if (*timer)
            loop_->cancelTimer(**timer);
        timer->reset();
    }
    if (cancellationWatch_)
        loop_->unwatch(*cancellationWatch_);
    cancellationWatch_.reset();
    closeConnection();
    service_.reset();
    relayConnection_.reset();
    // After the work that closing has posted, so that the sockets are closed before the request returns.
    loop_->post([loop = loop_] { loop->stop(); });
}

}  // namespace pellin
