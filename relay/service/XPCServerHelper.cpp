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

void XPCServerHelper::registerFor(const xpc::Endpoint& endpoint, std::int64_t role) {
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
    if (clientRole == XPCClientRole::token)
        hasTokenSentHash_ = false;
    // A ready signal waiting for a token was the replaced app's: the new app sends its own.
    if (clientRole == XPCClientRole::app)
        isAppReadySignalPending_ = false;
    // A replaced connection is closed, and its handlers leave the role alone: they only clean up a connection
    // that is still the stored one, so a late end of an old peer never drops the newest one.
    if (replaced)
        replaced->invalidate();

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

void XPCServerHelper::sendAppIsReadySignal() {
    // The app registers before it is ready; without its connection (it has gone meanwhile) nobody would get
    // the hash that the signal asks for.
    if (!appConnection) {
        logger.log("App is ready signal dropped, app connection not found", XPCLogType::error);
        return;
    }
    if (auto token = XPCClientTokenProxy::remoteObjectProxy(tokenConnection)) {
        token->appIsReady();
        return;
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

void XPCServerHelper::sendSignHashRequest(const platform::Bytes& hash, const std::string& instanceID) {
    hasTokenSentHash_ = true;
    if (auto app = XPCClientAppProxy::remoteObjectProxy(appConnection)) {
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

void XPCServerHelper::sendSignRequestTimeout() {
    if (auto app = XPCClientAppProxy::remoteObjectProxy(appConnection)) {
        app->signRequestTimeout();
        return;
    }
    logger.log("Cannot send sign request timeout message, app connection not found", XPCLogType::error);
}

void XPCServerHelper::sendSignatureReadySignal(const platform::Bytes& signature) {
    if (auto token = XPCClientTokenProxy::remoteObjectProxy(tokenConnection)) {
        logger.log("XPC signature exchange completed with success");
        hasReceivedInitialConnectionRequest_ = false;
        token->signatureReadyWithSignature(signature);
        releaseAnsweredToken();
        return;
    }
    logger.log("Cannot send signature ready signal, token connection not found", XPCLogType::error);
}

void XPCServerHelper::sendSignatureFailureSignal() {
    if (auto token = XPCClientTokenProxy::remoteObjectProxy(tokenConnection)) {
        logger.log("XPC signature exchange failed");
        hasReceivedInitialConnectionRequest_ = false;
        token->signatureFailed();
        releaseAnsweredToken();
        return;
    }
    logger.log("Cannot send signature failure signal, token connection not found", XPCLogType::error);
}

XPCListenerDelegate::XPCListenerDelegate(const XPCLogger& logger, xpc::Reactor& reactor,
                                         std::function<platform::Date()> clock)
    : logger_(logger), helper_(std::make_shared<XPCServerHelper>(logger, reactor, std::move(clock))) {}

bool XPCListenerDelegate::shouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& connection) {
    exportObject(*connection, std::weak_ptr<XPCService>(helper_));
    connection->setPeerRequirement(peerRequirement());
    connection->resume();
    return true;
}

}  // namespace relay
