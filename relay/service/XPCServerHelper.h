#pragma once
// The relay object: it keeps one connection back to the app and one to the token, and forwards the one-way
// messages of a signature exchange between them. Everything runs on the reactor's thread.
#include <functional>
#include <memory>

#include "platform/Date.h"
#include "platform/xpc/Connection.h"
#include "relay/common/XPCProtocols.h"
#include "relay/service/XPCLogger.h"

namespace relay {

// The relay's waits are multiplied by this factor, read once from QUORVANE_TIME_SCALE (a positive number,
// default 1) so that tests run its 10 s in a fraction of the time. Only the relay program reads it.
double timeScale();

class XPCServerHelper : public XPCService, public std::enable_shared_from_this<XPCServerHelper> {
  public:
    // The ready signal is buffered this long (times the time scale) for a token to register.
    static constexpr double appReadySignalBufferSeconds = 10.0;

    XPCServerHelper(const XPCLogger& logger, xpc::Reactor& reactor,
                    std::function<platform::Date()> clock = {});

    void registerFor(const xpc::Endpoint& endpoint, std::int64_t role) override;
    void sendAppIsReadySignal() override;
    void sendSignHashRequest(const platform::Bytes& hash, const std::string& instanceID) override;
    void sendSignRequestTimeout() override;
    void sendSignatureReadySignal(const platform::Bytes& signature) override;
    void sendSignatureFailureSignal() override;

    void sendBufferedAppReadySignal();
    void cleanUpConnection(XPCClientRole role);

    bool hasReceivedInitialConnectionRequest() const { return hasReceivedInitialConnectionRequest_; }
    bool isAppReadySignalPending() const { return isAppReadySignalPending_; }

  private:
    platform::Date now() const { return clock_(); }
    // After the token's answer has been forwarded: the connection closes once the answer is written, and a
    // ready signal that comes later waits for the next token instead of going to this one.
    void releaseAnsweredToken();

    const XPCLogger& logger;
    std::shared_ptr<xpc::Connection> appConnection;
    std::shared_ptr<xpc::Connection> tokenConnection;
    bool hasReceivedInitialConnectionRequest_ = false;
    bool isAppReadySignalPending_ = false;
    // A hash has come in since the stored token registered: the next answer is that token's.
    bool hasTokenSentHash_ = false;
    platform::Date appReadySignalReceivalDate;

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
    const XPCLogger& logger_;
    std::shared_ptr<XPCServerHelper> helper_;
};

}  // namespace relay
