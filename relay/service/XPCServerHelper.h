#pragma once
// The relay object: it keeps one connection back to the app and one to the token, and forwards the one-way
// messages of a signature exchange between them. Everything runs on the reactor's thread.
//
// The messages carry no request id, so the relay tells requests apart by the connection that a message came
// on (its client): an answer belongs to the app's registration that received the hash, and goes to the token
// that sent that hash or nowhere. An old request's answer that comes late therefore never reaches a newer
// token, and a token that is replaced while it waits for its answer hears of its failure at once.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Date.h"
#include "platform/xpc/Connection.h"
#include "relay/common/XPCProtocols.h"
#include "relay/service/XPCLogger.h"

namespace relay {

// The relay's waits are multiplied by this factor, read once from QUORVANE_TIME_SCALE (a positive number,
// default 1) so that tests run its 10 s in a fraction of the time. Only the relay program reads it.
double timeScale();

class XPCServerHelper : public std::enable_shared_from_this<XPCServerHelper> {
  public:
    // The ready signal is buffered this long (times the time scale) for a token to register.
    static constexpr double appReadySignalBufferSeconds = 10.0;

    // The connection to the relay's service that a message came on; none is 0.
    using ClientID = std::uint64_t;

    XPCServerHelper(const XPCLogger& logger, xpc::Reactor& reactor,
                    std::function<platform::Date()> clock = {});

    // A new client's id.
    ClientID newClient() { return ++lastClient_; }

    // The methods of XPCService, each with the client that sent it.
    void registerFor(ClientID client, const xpc::Endpoint& endpoint, std::int64_t role);
    void sendAppIsReadySignal(ClientID client);
    void sendSignHashRequest(ClientID client, const platform::Bytes& hash, const std::string& instanceID);
    void sendSignRequestTimeout(ClientID client);
    void sendSignatureReadySignal(ClientID client, const platform::Bytes& signature);
    void sendSignatureFailureSignal(ClientID client);

    void sendBufferedAppReadySignal();
    void cleanUpConnection(XPCClientRole role);

    bool hasReceivedInitialConnectionRequest() const { return hasReceivedInitialConnectionRequest_; }
    bool isAppReadySignalPending() const { return isAppReadySignalPending_; }

  private:
    platform::Date now() const { return clock_(); }
    // After the token's answer has been forwarded: the connection closes once the answer is written, and a
    // ready signal that comes later waits for the next token instead of going to this one.
    void releaseAnsweredToken();
    // The token that an answer of the client goes to: the one whose hash the client's registration received,
    // or, while the client is the app and has received no hash, the stored token. None when the client's
    // request has been replaced.
    std::shared_ptr<xpc::Connection> tokenAnsweredBy(ClientID client) const;
    // A signature, or the failure when none.
    void forwardAnswer(ClientID client, const std::optional<platform::Bytes>& signature);

    const XPCLogger& logger;
    std::shared_ptr<xpc::Connection> appConnection;
    std::shared_ptr<xpc::Connection> tokenConnection;
    // The clients that registered the stored connections.
    ClientID appClient_ = 0;
    ClientID tokenClient_ = 0;
    bool hasReceivedInitialConnectionRequest_ = false;
    bool isAppReadySignalPending_ = false;
    // A hash has come in since the stored token registered: the next answer is that token's.
    bool hasTokenSentHash_ = false;
    // The stored app's registration has received a hash.
    bool hasAppReceivedHash_ = false;
    // While hasTokenSentHash_: the client that sent the hash, and the app's registration that received it.
    ClientID hashClient_ = 0;
    ClientID pairedApp_ = 0;
    platform::Date appReadySignalReceivalDate;
    ClientID lastClient_ = 0;

    xpc::Reactor& reactor_;
    std::function<platform::Date()> clock_;
};

// The listener's delegate: every accepted connection gets the peer requirement and exports the relay object.
class XPCListenerDelegate {
  public:
    XPCListenerDelegate(const XPCLogger& logger, xpc::Reactor& reactor,
                        std::function<platform::Date()> clock = {});

    bool shouldAcceptNewConnection(const std::shared_ptr<xpc::Connection>& connection);
    const std::shared_ptr<XPCServerHelper>& helper() const { return helper_; }

  private:
    class Client;
    const XPCLogger& logger_;
    std::shared_ptr<XPCServerHelper> helper_;
};

}  // namespace relay
