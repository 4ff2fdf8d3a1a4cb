#pragma once
// The app's XPC client on platform/xpc. Its connections run on the Qt event loop of the thread that made it
// (the main thread), which is its XPC queue: the relay's messages and the connection handlers arrive there,
// in turn with the signing flow's calls, so the fields need no lock.
//
// The peer requirement of the relay's connection back to the app's listener is the same-user check of
// platform/xpc. Failures are logged at error level and otherwise ignored; nothing throws.
#include <memory>
#include <string>

#include "DependencyKeys.h"
#include "XPCClient.h"
#include "platform/xpc/Connection.h"
#include "relay/common/XPCProtocols.h"

namespace xpc {
class QtReactor;
}

class XPCClientLive : public XPCClient, public relay::XPCClientApp {
  public:
    XPCClientLive();
    ~XPCClientLive() override;
    XPCClientLive(const XPCClientLive&) = delete;
    XPCClientLive& operator=(const XPCClientLive&) = delete;

    // A new connection to the relay's service (an earlier one is dropped); nothing fails here, an unreachable
    // service shows as the connection's invalidation.
    void connect() override;
    // Opens a new anonymous listener and registers its endpoint with the relay under the role app.
    void registerWithService() override;
    void sendAppIsReady() override;
    // Sends the signature, then disconnects.
    void sendSignature(const platform::Bytes& signature) override;
    // Tells the relay that no signature comes, then disconnects (also when nothing is connected).
    void cancelTokenCommunication() override;
    // Drops the connection and the listener and clears the sign-request handler; the error handler stays.
    // Messages already sent are still written whole before the connection closes.
    void disconnect() override;

    void setSignatureRequestHandler(SignatureRequestHandler handler) override;
    void setCommunicationErrorHandler(CommunicationErrorHandler handler) override;

    // Messages from the relay (XPCClientApp).
    void signWithHash(const platform::Bytes& hash, const std::string& instanceID) override;
    void signRequestTimeout() override;
    void handleSignRequestTimeout();

    // The listener's delegate: serves XPCClientApp on the relay's connection back.
    bool listenerShouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& newConnection);

    // State, for the signing flow's checks and the tests.
    bool isConnected() const { return connection != nullptr; }
    bool isListening() const { return appListener != nullptr; }
    bool hasSignatureRequestHandler() const { return static_cast<bool>(signatureRequestHandler); }
    bool hasCommunicationErrorHandler() const { return static_cast<bool>(communicationErrorHandler); }

  private:
    class ExportedObject;

    std::unique_ptr<xpc::QtReactor> reactor_;  // outlives the connections and listeners below
    std::shared_ptr<ExportedObject> exported_;

    std::shared_ptr<xpc::Connection> connection;
    std::shared_ptr<xpc::Listener> appListener;
    SignatureRequestHandler signatureRequestHandler;
    CommunicationErrorHandler communicationErrorHandler;
    Dependency<LoggerClientKey> _logger;
};
