#include "Quorvane/core/XPCClientLive.h"

#include "platform/qt/Localizable.h"

#include "outside/Logger/LoggerClient.h"
#include "platform/xpc/qt/QtReactor.h"

// Receives the relay's messages for the client. The connections hold it weakly and the client owns it, so
// nothing is delivered once the client is gone.
class XPCClientLive::ExportedObject : public relay::XPCClientApp {
  public:
    explicit ExportedObject(XPCClientLive& client) : client_(client) {}
    void signWithHash(const platform::Bytes& hash, const std::string& instanceID) override {
        client_.signWithHash(hash, instanceID);
    }
    void signRequestTimeout() override { client_.signRequestTimeout(); }

  private:
    XPCClientLive& client_;
};

XPCClientLive::XPCClientLive()
    : reactor_(std::make_unique<xpc::QtReactor>()), exported_(std::make_shared<ExportedObject>(*this)) {}

XPCClientLive::~XPCClientLive() {
    // Drop the handles while the reactor they run on is still there.
    exported_.reset();
    if (appListener)
        appListener->invalidate();
    appListener.reset();
    connection.reset();
}

void XPCClientLive::connect() {
    connection = xpc::Connection::toService(*reactor_, relay::machServiceName);
    connection->setRemoteInterface(relay::xpcServiceInterface());
    Dependency<LoggerClientKey> logger;
    connection->setInterruptionHandler([logger] { logger->error("XPC client: XPC connection interrupted"); });
    connection->setInvalidationHandler([logger] { logger->error("XPC client: XPC connection invalidated"); });
    connection->resume();
}

void XPCClientLive::registerWithService() {
    auto proxy = relay::XPCServiceProxy::remoteObjectProxy(connection);
    if (!proxy) {
        _logger->error("XPC client: can't register to service, no valid object proxy");
        return;
    }
    std::shared_ptr<xpc::Listener> listener;
    try {
        listener = xpc::Listener::anonymous(*reactor_);
    } catch (const xpc::XPCError& error) {
        // Without a listener of its own the app cannot be reached; the exchange ends by the flow's time-out.
        _logger->error(std::string("XPC client: can't open a listener: ") + error.what());
        return;
    }
    if (appListener)
        appListener->invalidate();
    appListener = listener;
    appListener->setDelegate([this](const std::shared_ptr<xpc::Connection>& newConnection) {
        return listenerShouldAcceptNewConnection(newConnection);
    });
    appListener->resume();
    proxy->registerFor(appListener->endpoint(), static_cast<std::int64_t>(relay::XPCClientRole::app));
}

void XPCClientLive::sendAppIsReady() {
    auto proxy = relay::XPCServiceProxy::remoteObjectProxy(connection);
    if (!proxy) {
        _logger->error("XPC client: can't send ready signal, no valid proxy object");
        return;
    }
    proxy->sendAppIsReadySignal();
}

void XPCClientLive::sendSignature(const platform::Bytes& signature) {
    auto proxy = relay::XPCServiceProxy::remoteObjectProxy(connection);
    if (!proxy) {
        _logger->error("XPC client: can't send ready signal, no valid proxy object");
        return;
    }
    proxy->sendSignatureReadySignal(signature);
    disconnect();
}

void XPCClientLive::cancelTokenCommunication() {
    _logger->error("XPC client: cancelling token communication");
    if (auto proxy = relay::XPCServiceProxy::remoteObjectProxy(connection))
        proxy->sendSignatureFailureSignal();
    disconnect();
}

void XPCClientLive::disconnect() {
    if (connection) {
        // The answer just sent must reach the relay whole: the connection closes once it is written.
        connection->closeAfterSending();
        connection.reset();
    }
    if (appListener)
        appListener->invalidate();
    appListener.reset();
    signatureRequestHandler = nullptr;
}

void XPCClientLive::setSignatureRequestHandler(SignatureRequestHandler handler) {
    signatureRequestHandler = std::move(handler);
}

void XPCClientLive::setCommunicationErrorHandler(CommunicationErrorHandler handler) {
    communicationErrorHandler = std::move(handler);
}

void XPCClientLive::signWithHash(const platform::Bytes& hash, const std::string& instanceID) {
    // A copy: the handler may disconnect, which clears the field while it runs.
    if (auto handler = signatureRequestHandler)
        handler(hash, instanceID);
}

void XPCClientLive::signRequestTimeout() {
    handleSignRequestTimeout();
}

void XPCClientLive::handleSignRequestTimeout() {
    if (auto handler = communicationErrorHandler) {
        handler(AppError(ErrorCodeCategory::xpc, std::nullopt, "002", L("Signature creation has timed out."),
                         std::nullopt));
    }
    disconnect();
}

bool XPCClientLive::listenerShouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& newConnection) {
    relay::exportObject(*newConnection, std::weak_ptr<relay::XPCClientApp>(exported_));
    newConnection->setPeerRequirement(relay::peerRequirement());
    newConnection->resume();
    return true;
}
