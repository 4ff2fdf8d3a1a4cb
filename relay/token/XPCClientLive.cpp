#include "relay/token/XPCClientLive.h"

#include <deque>
#include <thread>

#include "platform/Workspace.h"
#include "relay/common/XPCProtocols.h"

namespace pellin {

namespace {

Clock::time_point after(Duration duration) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(duration);
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

void WaitCancellation::cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
}

bool WaitCancellation::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool WaitCancellation::waitUntil(Clock::time_point endDate) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, endDate, [&] { return cancelled_; });
    return !cancelled_;
}

RunLoopTimer::RunLoopTimer(Clock::time_point endDate, std::function<void()> callback,
                           std::shared_ptr<WaitCancellation> cancellation)
    : endDate(endDate), callback(std::move(callback)), cancellation_(std::move(cancellation)) {}

void RunLoopTimer::run() {
    if (cancellation_->waitUntil(endDate) && callback)
        callback();
}

// The queue on which the retry after an invalidation waits and connects again, so that the XPC thread stays
// free to see the new connection's fate meanwhile.
class XPCClientLive::SerialQueue {
  public:
    SerialQueue() : thread_([this] { loop(); }) {}
    ~SerialQueue() { stop(); }

    // Drops queued work and waits for the running one; later work is ignored.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void async(std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            if (stopped_)
                return;
            work_.push_back(std::move(work));
        }
        changed_.notify_all();
    }

  private:
    void loop() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopped_ || !work_.empty(); });
                if (stopped_)
                    return;
                work = std::move(work_.front());
                work_.pop_front();
            }
            work();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> work_;
    bool stopped_ = false;
    std::thread thread_;
};

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

XPCClientLive::XPCClientLive(LoggerClient logger, Timeouts timeouts)
    : logger(std::move(logger)),
      timeouts_(timeouts),
      retryQueue_(std::make_unique<SerialQueue>()),
      exported_(std::make_shared<ExportedObject>(this)) {
    xpcThread_.emplace();
}

XPCClientLive::~XPCClientLive() {
    // Stop the retry queue first (its waits end at once), then close the connections; the barrier on the XPC
    // thread lets every handler that is running finish before the fields they use go away. The stopped queue
    // stays until the XPC thread has ended, since a late invalidation handler may still hand it work.
    cancellation_->cancel();
    retryQueue_->stop();
    {
        std::lock_guard lock(mutex_);
        connection.reset();
        tokenListener.reset();
    }
    xpcThread_->runSync([] {});
    exported_.reset();
    xpcThread_.reset();
    retryQueue_.reset();
}

bool XPCClientLive::waitWhile(bool XPCClientLive::*flag, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] { return !(this->*flag); });
}

std::optional<platform::Bytes> XPCClientLive::requestSignature(const platform::Bytes& data,
                                                               const std::string& instanceID) {
    logger.info("--------------- New signing request ---------------");
    const std::string url = "quorvane://sign";

    Clock::time_point deadline = after(timeouts_.appReady);
    {
        std::lock_guard lock(mutex_);
        timeoutDate = deadline;
        waitingForXPCConnection = true;
        waitingForApp = true;
        waitingForSignature = true;
        receivedSignature.reset();
    }

    logger.info("Opening UI tool in sign mode");
    platform::Workspace::open(url);

    logger.info("Waiting for XPC connection validation");
    connectToService();
    if (!waitWhile(&XPCClientLive::waitingForXPCConnection, deadline)) {
        logger.error("Process timed out and will be interrupted");
        return std::nullopt;
    }

    registerAsTokenClient();

    std::optional<relay::XPCServiceProxy> proxy;
    {
        std::lock_guard lock(mutex_);
        proxy = relay::XPCServiceProxy::remoteObjectProxy(connection);
    }
    if (!proxy)
        return std::nullopt;

    logger.info("Waiting for UI tool ready signal");
    if (!waitWhile(&XPCClientLive::waitingForApp, deadline)) {
        logger.error("Process timed out and will be interrupted");
        return std::nullopt;
    }

    logger.info("Sending sign request to XPC service and waiting for signature");
    deadline = after(timeouts_.signature);
    {
        std::lock_guard lock(mutex_);
        timeoutDate = deadline;
    }
    proxy->sendSignHashRequest(data, instanceID);

    if (!waitWhile(&XPCClientLive::waitingForSignature, deadline)) {
        logger.error("Process timed out and will be interrupted");
        logger.error("Signature request timed out");
        proxy->sendSignRequestTimeout();
        return std::nullopt;
    }

    closeConnection();
    std::lock_guard lock(mutex_);
    return receivedSignature;
}

void XPCClientLive::connectToService() {
    logger.info("Attempting XPC connection");
    auto newConnection = xpc::Connection::toService(xpcThread_->reactor(), relay::machServiceName);
    newConnection->setRemoteInterface(relay::xpcServiceInterface());
    newConnection->setLaunchWaitLimit(
        std::chrono::duration_cast<std::chrono::milliseconds>(timeouts_.launchWait));
    newConnection->setInterruptionHandler([this] { logger.error("XPC connection interrupted"); });
    newConnection->setInvalidationHandler([this] {
        bool retry;
        {
            std::lock_guard lock(mutex_);
            xpcConnectionInvalidated = true;
            retry = waitingForXPCConnection;
        }
        logger.error("XPC connection invalidated");
        if (!retry)
            return;
        logger.info("Re-attempting XPC connection after 1 second");
        retryQueue_->async([this] {
            auto timer = std::make_shared<RunLoopTimer>(
                after(timeouts_.retry), [this] { connectToService(); }, cancellation_);
            {
                std::lock_guard lock(mutex_);
                retryConnectionTimer = timer;
            }
            timer->run();
        });
    });
    {
        std::lock_guard lock(mutex_);
        xpcConnectionInvalidated = false;
        connection = newConnection;  // an earlier connection is closed when dropped
    }
    newConnection->resume();

    auto validation = std::make_shared<RunLoopTimer>(
        after(timeouts_.validation),
        [this] {
            bool invalidated;
            {
                std::lock_guard lock(mutex_);
                invalidated = xpcConnectionInvalidated;
            }
            if (!invalidated) {
                logger.info("XPC connection validated");
                {
                    std::lock_guard lock(mutex_);
                    waitingForXPCConnection = false;
                }
                changed_.notify_all();
            } else {
                logger.info("Could not validate connection, it was invalidated in the meantime");
            }
        },
        cancellation_);
    {
        std::lock_guard lock(mutex_);
        connectionValidationTimer = validation;
    }
    validation->run();
}

void XPCClientLive::registerAsTokenClient() {
    std::optional<relay::XPCServiceProxy> proxy;
    {
        std::lock_guard lock(mutex_);
        proxy = relay::XPCServiceProxy::remoteObjectProxy(connection);
    }
    std::shared_ptr<xpc::Listener> listener;
    if (proxy) {
        try {
            listener = xpc::Listener::anonymous(xpcThread_->reactor());
        } catch (const xpc::XPCError&) {
            proxy.reset();
        }
    }
    if (!proxy) {
        logger.error("Cannot register to service, no valid object proxy");
        return;
    }
    logger.info("Registering to XPC service as token client");
    {
        std::lock_guard lock(mutex_);
        tokenListener = listener;
    }
    listener->setDelegate([this](const std::shared_ptr<xpc::Connection>& accepted) {
        return listenerShouldAcceptNewConnection(accepted);
    });
    listener->resume();
    proxy->registerFor(listener->endpoint(), static_cast<std::int64_t>(relay::XPCClientRole::token));
}

bool XPCClientLive::listenerShouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& accepted) {
    relay::exportObject(*accepted, std::weak_ptr<relay::XPCClientToken>(exported_));
    accepted->setPeerRequirement(relay::peerRequirement());
    accepted->resume();
    return true;
}

void XPCClientLive::closeConnection() {
    std::lock_guard lock(mutex_);
    if (connection)
        connection->suspend();
    connection.reset();
    if (tokenListener)
        tokenListener->invalidate();
    tokenListener.reset();
}

void XPCClientLive::appIsReady() {
    logger.info("Received UI tool ready signal");
    {
        std::lock_guard lock(mutex_);
        waitingForApp = false;
    }
    changed_.notify_all();
}

void XPCClientLive::signatureReadyWithSignature(const platform::Bytes& signature) {
    logger.info("Received UI tool signature");
    {
        std::lock_guard lock(mutex_);
        receivedSignature = signature;
        waitingForSignature = false;
    }
    changed_.notify_all();
}

void XPCClientLive::signatureFailed() {
    logger.error("Received signature failure signal from UI tool");
    {
        std::lock_guard lock(mutex_);
        waitingForSignature = false;
    }
    changed_.notify_all();
}

}  // namespace pellin
