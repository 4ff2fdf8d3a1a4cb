#include "relay/service/XPCServerHelper.h"

#include <cstdlib>
#include <utility>

namespace relay {

double timeScale() {
    static const double scale = [] {
        const char* text = std::getenv("QUORVANE_TIME_SCALE");
        if (!text || !*text)
            return 1.0;
        char* end = nullptr;
        double value = std::strtod(text, &end);
        return (end && *end == '\0' && value > 0 && value <= 1000) ? value : 1.0;
    }();
    return scale;
}

XPCServerHelper::XPCServerHelper(const XPCLogger& logger, xpc::Reactor& reactor,
                                 std::function<platform::Date()> clock)
    : logger(logger), reactor_(reactor), clock_(std::move(clock)) {
    if (!clock_)
        clock_ = [] { return std::chrono::system_clock::now(); };
    appReadySignalReceivalDate = now();
}

void XPCServerHelper::registerFor(ClientID client, const xpc::Endpoint& endpoint, std::int64_t role) {
    if (!hasReceivedInitialConnectionRequest_) {
        logger.log("--------------- XPC signature exhange start detected ---------------");
        hasReceivedInitialConnectionRequest_ = true;
    }
    logger.log("Endpoint received for " + roleText(role));
    if (role != static_cast<std::int64_t>(XPCClientRole::app) &&
        role != static_cast<std::int64_t>(XPCClientRole::token))
        return;  // not a role of the protocol: nothing to connect back to
    auto clientRole = static_cast<XPCClientRole>(role);

    auto connection = xpc::Connection::toEndpoint(reactor_, endpoint);
    connection->setRemoteInterface(clientRole == XPCClientRole::app ? xpcClientAppInterface()
                                                                    : xpcClientTokenInterface());
    auto& slot = clientRole == XPCClientRole::app ? appConnection : tokenConnection;
    auto replaced = std::exchange(slot, connection);
    bool replacedTokenWaits = false;
    if (clientRole == XPCClientRole::token) {
        replacedTokenWaits = replaced && hasTokenSentHash_;
        tokenClient_ = client;
        hasTokenSentHash_ = false;
    } else {
        appClient_ = client;
        hasAppReceivedHash_ = false;
        // A ready signal waiting for a token was the replaced app's: the new app sends its own.
        isAppReadySignalPending_ = false;
    }
    // A replaced connection is closed, and its handlers leave the role alone: they only clean up a connection
    // that is still the stored one, so a late end of an old peer never drops the newest one. A replaced token
    // that waits for its answer gets it now: the failure, as no answer can reach it any more.
    if (replacedTokenWaits) {
        logger.log("Token replaced while it waited for its signature, sending it the failure signal",
                   XPCLogType::error);
        if (auto token = XPCClientTokenProxy::remoteObjectProxy(replaced))
            token->signatureFailed();
        replaced->closeAfterSending();
    } else if (replaced) {
        replaced->invalidate();
    }

    std::weak_ptr<XPCServerHelper> weak = weak_from_this();
    std::weak_ptr<xpc::Connection> own = connection;
    auto cleanUp = [weak, own, clientRole] {
        auto self = weak.lock();
        if (!self)
            return;
        const auto& stored = clientRole == XPCClientRole::app ? self->appConnection : self->tokenConnection;
        if (stored && stored == own.lock())
            self->cleanUpConnection(clientRole);
    };
    connection->setInterruptionHandler(cleanUp);
    connection->setInvalidationHandler(cleanUp);
    connection->resume();

    if (clientRole == XPCClientRole::token)
        sendBufferedAppReadySignal();
}

void XPCServerHelper::cleanUpConnection(XPCClientRole role) {
    logger.log("Cleaning up connection for " + roleText(static_cast<std::int64_t>(role)));
    if (role == XPCClientRole::app) {
        // A ready signal of an app that has gone would send the next token's hash to nobody.
        appConnection.reset();
        isAppReadySignalPending_ = false;
    } else {
        tokenConnection.reset();
        hasTokenSentHash_ = false;
    }
}

void XPCServerHelper::releaseAnsweredToken() {
    if (!hasTokenSentHash_ || !tokenConnection)
        return;
    tokenConnection->closeAfterSending();
    cleanUpConnection(XPCClientRole::token);
}

void XPCServerHelper::sendAppIsReadySignal(ClientID) {
    // The app registers before it is ready; without its connection (it has gone meanwhile) nobody would get
    // the hash that the signal asks for.
    if (!appConnection) {
        logger.log("App is ready signal dropped, app connection not found", XPCLogType::error);
        return;
    }
    // A token that has sent its hash waits for another request's answer: the signal is for the next token.
    if (!hasTokenSentHash_) {
        if (auto token = XPCClientTokenProxy::remoteObjectProxy(tokenConnection)) {
            token->appIsReady();
            return;
        }
    }
    logger.log("App is ready signal buffered until token client connects");
    isAppReadySignalPending_ = true;
    appReadySignalReceivalDate = now();
}

void XPCServerHelper::sendBufferedAppReadySignal() {
    if (!isAppReadySignalPending_) {
        logger.log("No app ready signal buffered, doing nothing");
        return;
    }
    logger.log("Found buffered app ready signal, sending it to token");
    isAppReadySignalPending_ = false;
    auto window = std::chrono::duration_cast<platform::Date::duration>(
        platform::Seconds(appReadySignalBufferSeconds * timeScale()));
    if (!(appReadySignalReceivalDate > now() - window)) {
        logger.log("Cannot send buffered app ready signal, buffer allowed time is expired",
                   XPCLogType::error);
        return;
    }
    auto token = XPCClientTokenProxy::remoteObjectProxy(tokenConnection);
    if (!token) {
        logger.log("Cannot send buffered app ready signal, invalid token proxy", XPCLogType::error);
        return;
    }
    token->appIsReady();
}

void XPCServerHelper::sendSignHashRequest(ClientID client, const platform::Bytes& hash,
                                          const std::string& instanceID) {
    // A replaced token has been answered already; its hash would take the newest token's place.
    if (tokenConnection && client != tokenClient_) {
        logger.log("Cannot sign hash, the token that sent it is no longer registered", XPCLogType::error);
        return;
    }
    hasTokenSentHash_ = true;
    hashClient_ = client;
    pairedApp_ = appConnection ? appClient_ : 0;
    if (auto app = XPCClientAppProxy::remoteObjectProxy(appConnection)) {
        hasAppReceivedHash_ = true;
        app->signWithHash(hash, instanceID);
        return;
    }
    logger.log("Cannot sign hash, app connection not found", XPCLogType::error);
    // Nobody will answer this hash: the token hears so now instead of at the end of its wait.
    if (auto token = XPCClientTokenProxy::remoteObjectProxy(tokenConnection)) {
        hasReceivedInitialConnectionRequest_ = false;
        token->signatureFailed();
        releaseAnsweredToken();
    }
}

void XPCServerHelper::sendSignRequestTimeout(ClientID client) {
    // Only the app that holds the token's hash works for that token.
    const bool forThisApp = !hasTokenSentHash_ || (client == hashClient_ && appClient_ == pairedApp_);
    if (auto app = XPCClientAppProxy::remoteObjectProxy(forThisApp ? appConnection : nullptr)) {
        app->signRequestTimeout();
        return;
    }
    logger.log("Cannot send sign request timeout message, app connection not found", XPCLogType::error);
}

std::shared_ptr<xpc::Connection> XPCServerHelper::tokenAnsweredBy(ClientID client) const {
    if (hasTokenSentHash_)
        return client == pairedApp_ ? tokenConnection : nullptr;
    return client == appClient_ && !hasAppReceivedHash_ ? tokenConnection : nullptr;
}

void XPCServerHelper::forwardAnswer(ClientID client, const std::optional<platform::Bytes>& signature) {
    auto token = XPCClientTokenProxy::remoteObjectProxy(tokenAnsweredBy(client));
    if (!token) {
        logger.log(signature ? "Cannot send signature ready signal, token connection not found"
                             : "Cannot send signature failure signal, token connection not found",
                   XPCLogType::error);
        return;
    }
    logger.log(signature ? "XPC signature exchange completed with success" : "XPC signature exchange failed");
    hasReceivedInitialConnectionRequest_ = false;
    if (signature)
        token->signatureReadyWithSignature(*signature);
    else
        token->signatureFailed();
    releaseAnsweredToken();
}

void XPCServerHelper::sendSignatureReadySignal(ClientID client, const platform::Bytes& signature) {
    forwardAnswer(client, signature);
}

void XPCServerHelper::sendSignatureFailureSignal(ClientID client) {
    forwardAnswer(client, std::nullopt);
}

// One per accepted connection: the relay's service as that client sends to it.
class XPCListenerDelegate::Client : public XPCService {
  public:
    Client(std::weak_ptr<XPCServerHelper> helper, XPCServerHelper::ClientID id)
        : helper_(std::move(helper)), id_(id) {}
    void registerFor(const xpc::Endpoint& endpoint, std::int64_t role) override {
        if (auto helper = helper_.lock())
            helper->registerFor(id_, endpoint, role);
    }
    void sendAppIsReadySignal() override {
        if (auto helper = helper_.lock())
            helper->sendAppIsReadySignal(id_);
    }
    void sendSignHashRequest(const platform::Bytes& hash, const std::string& instanceID) override {
        if (auto helper = helper_.lock())
            helper->sendSignHashRequest(id_, hash, instanceID);
    }
    void sendSignRequestTimeout() override {
        if (auto helper = helper_.lock())
            helper->sendSignRequestTimeout(id_);
    }
    void sendSignatureReadySignal(const platform::Bytes& signature) override {
        if (auto helper = helper_.lock())
            helper->sendSignatureReadySignal(id_, signature);
    }
    void sendSignatureFailureSignal() override {
        if (auto helper = helper_.lock())
            helper->sendSignatureFailureSignal(id_);
    }

  private:
    std::weak_ptr<XPCServerHelper> helper_;
    XPCServerHelper::ClientID id_;
};

XPCListenerDelegate::XPCListenerDelegate(const XPCLogger& logger, xpc::Reactor& reactor,
                                         std::function<platform::Date()> clock)
    : logger_(logger), helper_(std::make_shared<XPCServerHelper>(logger, reactor, std::move(clock))) {}

bool XPCListenerDelegate::shouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& connection) {
    auto client = std::make_shared<Client>(helper_, helper_->newClient());
    exportObject(*connection, std::weak_ptr<XPCService>(client));
    // The client lives as long as its connection: the connection's handler holds it.
    connection->setInvalidationHandler([client] {});
    connection->setPeerRequirement(peerRequirement());
    connection->resume();
    return true;
}

}  // namespace relay
